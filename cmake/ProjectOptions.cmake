# Compiler settings shared by every target of the project.

# Warnings stop the build in CI and in every preset, where the compilers are the ones
# we build with. A plain build on a compiler we have not tried still reports them, but
# a new compiler's new warning (or a false positive) does not keep a user from building.
option(TESSEL_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

add_library(project_warnings INTERFACE)
if(MSVC)
    target_compile_options(project_warnings INTERFACE /W4 $<$<BOOL:${TESSEL_WARNINGS_AS_ERRORS}>:/WX>)
else()
    target_compile_options(project_warnings INTERFACE
        -Wall -Wextra -Wshadow -Wformat=2 -Wformat-security -Wcast-align
        -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
        $<$<BOOL:${TESSEL_WARNINGS_AS_ERRORS}>:-Werror>)
endif()

option(TESSEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TESSEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Adds a library of project code with the project's warnings.
function(tessel_library name)
    add_library(${name} STATIC ${ARGN})
    target_link_libraries(${name} PUBLIC project_warnings)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# Adds a GoogleTest executable registered with CTest.
function(tessel_test name)
    if(NOT TESSEL_BUILD_TESTS)
        return()
    endif()
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE project_warnings GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "TESSEL_SHARED_DIR=${TESSEL_SHARED_DIR}")
endfunction()
