corvane_test(tst_clipboardtext grid/tst_clipboardtext.cpp TIMEOUT 60 LINK corvane_grid)
corvane_test(tst_roundtrips grid/tst_roundtrips.cpp DB TIMEOUT 120 LINK corvane_grid)
# Against the three-node Galera cluster (label "cluster").
corvane_test(tst_cluster grid/tst_cluster.cpp DB THREADS TIMEOUT 420 LINK corvane_grid)
set_tests_properties(tst_cluster PROPERTIES FIXTURES_REQUIRED "db;galera" LABELS "cluster;threads")
