# quellmark_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <targets...>])
# A fuzz target defines LLVMFuzzerTestOneInput. Normally it is linked with a small main
# that replays its checked-in corpus (fuzz/corpus/<name>/) and is registered with CTest, so
# the seeds run in every test run, under the sanitizers in the sanitized build. With
# QUELLMARK_FUZZ=ON (clang) it becomes a libFuzzer program instead:
#   CXX=clang++ cmake -B build-fuzz -G Ninja -DQUELLMARK_FUZZ=ON -DQUELLMARK_BUILD_TESTS=OFF
#   cmake --build build-fuzz --target <name>
#   build-fuzz/bin/<name> -max_total_time=600 fuzz-work/<name> fuzz/corpus/<name>
function(quellmark_add_fuzzer)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE quellmark_options ${ARG_LIBS})
    if(QUELLMARK_FUZZ)
        target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
        return()
    endif()
    target_sources(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    if(QUELLMARK_BUILD_TESTS)
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME} ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${ARG_NAME})
        set_tests_properties(${ARG_NAME} PROPERTIES
            TIMEOUT 300
            ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/qt-leaks.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    endif()
endfunction()
