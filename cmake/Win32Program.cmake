# The Windows program: one self-contained GUI executable (32- or 64-bit) that links no
# C runtime and imports only KERNEL32, USER32 and SHELL32.

enable_language(RC)
include(${CMAKE_CURRENT_LIST_DIR}/IconTool.cmake)
ovq_generate_icon(OVQ_ICON_FILE)

# The manifest carries the version and names the machine of this build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(OVQ_MANIFEST_ARCHITECTURE amd64)
else()
    set(OVQ_MANIFEST_ARCHITECTURE x86)
endif()
set(OVQ_MANIFEST_FILE ${CMAKE_BINARY_DIR}/generated/ovq.manifest)
configure_file(res/ovq.manifest.in ${OVQ_MANIFEST_FILE} @ONLY)

add_executable(ovq WIN32 ${OVQ_SOURCES} ${OVQ_WIN32_ONLY_SOURCES} res/ovq.rc)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_sources(ovq PRIVATE ${OVQ_WIN64_ONLY_SOURCES})
    target_link_options(ovq PRIVATE -Wl,--require-defined,RelocationAnchor)
endif()
add_dependencies(ovq ovq_icon)
target_include_directories(ovq PRIVATE src res ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(res/ovq.rc PROPERTIES OBJECT_DEPENDS "${OVQ_ICON_FILE};${OVQ_MANIFEST_FILE}")
# Only the import libraries of the three system DLLs, none of the defaults.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
target_link_libraries(ovq PRIVATE kernel32 user32 shell32)

# ovq_without_runtime(<target> [DLL]): a program that links no C runtime and
# starts in its own ProgramEntry. ovq.exe and the minimal programs the
# benchmark compares it with share these options, so that a comparison shows
# ovq's own work and not a difference in how the two were built. With DLL, a
# DLL built the same way, whose entry point is DllEntry (stdcall, three
# arguments) and whose exports keep their plain names (the installer's custom
# action, installer/).
function(ovq_without_runtime target)
    set(dll OFF)
    if(ARGV1 STREQUAL "DLL")
        set(dll ON)
    endif()
    if(MSVC)
        # Not tried: no MSVC runs on the Linux machines that build and test ovq.
        target_compile_options(${target} PRIVATE /W4 /GR- /EHs-c- /GS- /Gs9999999)
        target_link_options(${target} PRIVATE /NODEFAULTLIB /ENTRY:ProgramEntry /SUBSYSTEM:WINDOWS
                                              /DYNAMICBASE /NXCOMPAT /SAFESEH:NO /TSAWARE /Brepro)
        return()
    endif()
    # Freestanding: the compiler may not turn a loop into a call of a C
    # library function (GCC makes strlen of a length loop otherwise). No
    # exceptions or RTTI. Link-time optimisation inlines the small procedures
    # across files and drops what nothing calls. (Not data sections: MinGW
    # would then give the zero-filled state room in the file.)
    set(code_options -ffreestanding -fno-exceptions -fno-rtti -fno-ident -flto)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        # x64 Windows unwinds through every frame by its table (.pdata and
        # .xdata): an exception raised inside a callback such as the window
        # procedure, a crash dump and a debugger all need an entry for each
        # function that is not a leaf. i386 unwinds by the frame chain, so the
        # tables are dropped there.
        # On x64 the assembler aligns every code section to 16 bytes, so a
        # section for each function would cost a padding gap after each; the
        # functions of the optimised whole stay together instead.
        set(x64 ON)
    else()
        set(x64 OFF)
        # Every function gets a section of its own, so the linker keeps only
        # what is used.
        list(APPEND code_options -fno-asynchronous-unwind-tables -ffunction-sections)
    endif()
    target_compile_options(${target} PRIVATE -Wall -Wextra ${code_options})
    # No start-up files and no C or C++ runtime: the process starts in
    # ProgramEntry. No time stamp, so that every build of the same sources is
    # the same file. ASLR with relocations, DEP, terminal-server aware, and no
    # structured exception handlers, since nothing here installs one.
    if(dll)
        set(entry DllEntry)
        set(i386_entry _DllEntry@12)
    else()
        set(entry ProgramEntry)
        set(i386_entry _ProgramEntry)
    endif()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        set(lto_options -flto)
    else()
        # GNU ld takes the entry by its symbol: decorated on i386, plain on x64.
        if(NOT x64)
            set(entry ${i386_entry})
        endif()
        set(lto_options ${code_options})  # GCC compiles again at link time
    endif()
    if(dll)
        # A DLL has no say in the terminal-server flag, which is a program's;
        # GetProcAddress finds a stdcall export by its plain name only.
        set(image_options -shared -Wl,--kill-at -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh)
    else()
        set(image_options -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware -Wl,--no-seh)
    endif()
    if(x64)
        # The whole 64-bit address space for the randomised base.
        list(APPEND image_options -Wl,--high-entropy-va)
    endif()
    target_link_options(${target} PRIVATE ${lto_options} -nostdlib -s
        -Wl,--entry,${entry} -Wl,--gc-sections -Wl,--no-insert-timestamp ${image_options})
endfunction()

ovq_without_runtime(ovq)

add_subdirectory(tests/exe)
add_subdirectory(installer)

# The sources only the Windows program has, and the installer's custom action,
# go through the static checks in the clang build, whose compile database clang-tidy reads as it is.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    list(TRANSFORM OVQ_WIN32_ONLY_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE ovq_win32_source_paths)
    add_test(NAME style.tidy-windows
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/style/check-tidy.sh ${CMAKE_BINARY_DIR} ${ovq_win32_source_paths}
                     ${CMAKE_SOURCE_DIR}/installer/EndCopy.cpp ${CMAKE_SOURCE_DIR}/installer/Copies.cpp
                     ${CMAKE_SOURCE_DIR}/installer/EndedCopies.cpp ${CMAKE_SOURCE_DIR}/installer/InstallLog.cpp)
    set_tests_properties(style.tidy-windows PROPERTIES TIMEOUT 120)
endif()

if(CMAKE_CROSSCOMPILING)
    add_subdirectory(tests/probe)
    add_subdirectory(tests/wine)
    add_subdirectory(tests/bench)
endif()
