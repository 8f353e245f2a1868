# GoogleTest for the tests: the installed package (Debian's libgtest-dev). A cross build cannot
# link the build machine's libraries, so the Windows build compiles GoogleTest from its sources.
if(CMAKE_CROSSCOMPILING)
    set(QUILLMERE_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
        "GoogleTest's sources, compiled into a cross build's tests (Debian's googletest puts them here)")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUILLMERE_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
