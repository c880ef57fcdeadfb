corvane_test(tst_security security/tst_security.cpp TIMEOUT 120)
corvane_test(tst_tls security/tst_tls.cpp TLSDB TIMEOUT 300)
target_link_libraries(tst_security PRIVATE PkgConfig::MARIADB)
# A private sshd in front of the test server; the editor is ssh's ask-pass program.
corvane_test(tst_ssh security/tst_ssh.cpp DB THREADS TIMEOUT 180)
target_compile_definitions(tst_ssh PRIVATE CORVANE_EDITOR_BIN="$<TARGET_FILE:corvane-editor>")
add_dependencies(tst_ssh corvane-editor)
