# The Windows build's tests run under Wine through ctest, which starts one
# Wine server for the whole run in a fresh prefix inside the build folder,
# with a home folder of its own beside it (fixture "wine";
# scripts/wine-env.sh), and the Linux side's stand-in card service on
# 127.0.0.1 (fixture "card_service"). The Linux programs come from a Linux build.
set(KQGET_NATIVE_TOOLS_DIR ${CMAKE_SOURCE_DIR}/build/bin CACHE PATH
    "The bin folder of a Linux build of kqget, for kqget-card-service and kqget-cli")
set(kqget_windows_test_scripts ${CMAKE_CURRENT_LIST_DIR})
set(KQGET_CARD_SERVICE_DIR ${CMAKE_BINARY_DIR}/card-service)
# The same file as the programs under Wine see it: Wine's drive Z: is the root.
set(KQGET_CARD_SERVICE_WINE_PORT_FILE "Z:${KQGET_CARD_SERVICE_DIR}/port")
# The TLS services' state (tests/windows/tls_services.sh), and as under Wine.
set(KQGET_TLS_SERVICES_DIR ${CMAKE_BINARY_DIR}/tls-services)
set(KQGET_TLS_SERVICES_WINE_DIR "Z:${KQGET_TLS_SERVICES_DIR}")

add_test(NAME windows.wine.start
         COMMAND bash ${kqget_windows_test_scripts}/wine_server.sh start ${KQGET_WINE_PREFIX})
add_test(NAME windows.wine.stop
         COMMAND bash ${kqget_windows_test_scripts}/wine_server.sh stop ${KQGET_WINE_PREFIX})
set_tests_properties(windows.wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
set_tests_properties(windows.wine.stop PROPERTIES FIXTURES_CLEANUP wine)

add_test(NAME windows.card_service.start
         COMMAND bash ${kqget_windows_test_scripts}/card_service.sh start
                 ${KQGET_NATIVE_TOOLS_DIR}/kqget-card-service ${KQGET_CARD_SERVICE_DIR})
add_test(NAME windows.card_service.stop
         COMMAND bash ${kqget_windows_test_scripts}/card_service.sh stop
                 ${KQGET_NATIVE_TOOLS_DIR}/kqget-card-service ${KQGET_CARD_SERVICE_DIR})
set_tests_properties(windows.card_service.start PROPERTIES FIXTURES_SETUP card_service)
set_tests_properties(windows.card_service.stop PROPERTIES FIXTURES_CLEANUP card_service)

#   kqget_add_wine_test(NAME COMMAND... [FIXTURES fixture...])
# COMMAND's first word is a target (run under Wine) or a program of this system.
function(kqget_add_wine_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FIXTURES")
    add_test(NAME windows.${name} COMMAND ${arg_UNPARSED_ARGUMENTS})
    set_tests_properties(windows.${name} PROPERTIES
        FIXTURES_REQUIRED "wine;${arg_FIXTURES}"
        LABELS windows
        TIMEOUT 300)
endfunction()
