# GoogleTest: Debian's package for the native build; for the Windows build
# the sources in /usr/src/googletest, compiled with the cross compiler.
enable_testing()

if(WIN32)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()

# quillon_add_test(NAME name SOURCES ... LIBS ... LABELS ...)
# One test executable is one ctest test; under a cross build ctest runs it
# through the emulator (Wine).
function(quillon_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 900)
endfunction()
