corvane_test(tst_security security/tst_security.cpp TIMEOUT 120)
corvane_test(tst_tls security/tst_tls.cpp TLSDB TIMEOUT 300)
target_link_libraries(tst_security PRIVATE PkgConfig::MARIADB)
