# Included after project() in a cross build (CMAKE_PROJECT_TesselUpdate_INCLUDE): the
# build runs tools that must be compiled for the build machine. Unless a folder of such
# tools is given, configure and build tools/ natively once, beside this build.
if(NOT CMAKE_CROSSCOMPILING)
    return()
endif()
if(NOT TESSEL_HOST_TOOLS_DIR)
    set(host_dir ${CMAKE_BINARY_DIR}/host-tools)
    message(STATUS "Building the host tools in ${host_dir}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR}/tools -B ${host_dir} -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_TOOLCHAIN_FILE= -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
                -DTESSEL_WARNINGS_AS_ERRORS=${TESSEL_WARNINGS_AS_ERRORS}
        RESULT_VARIABLE configure_result)
    if(configure_result EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${host_dir} -j2 RESULT_VARIABLE build_result)
    endif()
    if(NOT configure_result EQUAL 0 OR NOT build_result EQUAL 0)
        message(FATAL_ERROR "The host tools did not build in ${host_dir}")
    endif()
    set(TESSEL_HOST_TOOLS_DIR ${host_dir} CACHE PATH "Folder with the tools built for the build machine" FORCE)
endif()
