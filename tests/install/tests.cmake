# The install tree: files in place, menu entry and AppStream data valid, the
# installed programs answer --version/--help and find their data folder.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(APPSTREAMCLI appstreamcli)
if(DESKTOP_FILE_VALIDATE AND APPSTREAMCLI)
  add_test(NAME install_tree
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/check-install.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(install_tree PROPERTIES TIMEOUT 120
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
else()
  message(WARNING "desktop-file-validate or appstreamcli missing: the install_tree test is left out (scripts/install-deps.sh)")
endif()
