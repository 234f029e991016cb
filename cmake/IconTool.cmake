# The program icon is kept as a readable pixel map (res/icon.txt) and turned
# into generated/ovq.ico at build time by tools/mkicon.
#
#   ovq_generate_icon(<out-var>)
#
# Sets <out-var> to the path of the generated .ico and defines the target
# ovq_icon, which other targets can add_dependencies() on. The tool always runs
# on the build machine: in a native build (Linux host build, or MSVC/MinGW on
# Windows) it is the ordinary target mkicon; in a cross build it is built with
# the build machine's own compiler as an external project, without the
# toolchain file. Set OVQ_HOST_CXX_COMPILER to pick that compiler explicitly.

include_guard(GLOBAL)

set(_OVQ_MKICON_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/../tools/mkicon")
get_filename_component(_OVQ_MKICON_SOURCE_DIR "${_OVQ_MKICON_SOURCE_DIR}" ABSOLUTE)

function(ovq_generate_icon OUT_VAR)
    set(map "${CMAKE_SOURCE_DIR}/res/icon.txt")
    set(ico "${CMAKE_BINARY_DIR}/generated/ovq.ico")

    if(TARGET ovq_icon)
        # Already set up by an earlier call.
        set(${OUT_VAR} "${ico}" PARENT_SCOPE)
        return()
    endif()

    if(CMAKE_CROSSCOMPILING)
        include(ExternalProject)
        set(OVQ_HOST_CXX_COMPILER "" CACHE FILEPATH
            "C++ compiler of the build machine, for tools run during a cross build (empty: the default one)")

        set(tool_dir "${CMAKE_BINARY_DIR}/mkicon-host")
        if(CMAKE_HOST_WIN32)
            set(tool "${tool_dir}/bin/mkicon.exe")
        else()
            set(tool "${tool_dir}/bin/mkicon")
        endif()

        set(tool_args -DCMAKE_BUILD_TYPE=Release)
        if(OVQ_HOST_CXX_COMPILER)
            list(APPEND tool_args "-DCMAKE_CXX_COMPILER=${OVQ_HOST_CXX_COMPILER}")
        endif()

        ExternalProject_Add(ovq_mkicon_host
            SOURCE_DIR "${_OVQ_MKICON_SOURCE_DIR}"
            BINARY_DIR "${tool_dir}"
            PREFIX "${CMAKE_BINARY_DIR}/mkicon-host-ep"
            CMAKE_ARGS ${tool_args}
            # Always run the (cheap) inner build so edits to mkicon.cpp are picked up.
            BUILD_ALWAYS ON
            BUILD_BYPRODUCTS "${tool}"
            INSTALL_COMMAND "")
        set(tool_command "${tool}")
        set(tool_depends "${tool}" ovq_mkicon_host)
    else()
        add_executable(mkicon "${_OVQ_MKICON_SOURCE_DIR}/mkicon.cpp")
        target_compile_features(mkicon PRIVATE cxx_std_17)
        set(tool_command "$<TARGET_FILE:mkicon>")
        set(tool_depends mkicon)
    endif()

    file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/generated")
    add_custom_command(
        OUTPUT "${ico}"
        COMMAND "${tool_command}" "${map}" "${ico}"
        DEPENDS "${map}" ${tool_depends}
        COMMENT "Generating generated/ovq.ico from res/icon.txt"
        VERBATIM)
    add_custom_target(ovq_icon ALL DEPENDS "${ico}")
    if(CMAKE_CROSSCOMPILING)
        add_dependencies(ovq_icon ovq_mkicon_host)
    endif()

    set(${OUT_VAR} "${ico}" PARENT_SCOPE)
endfunction()
