# The Windows program: one self-contained 32-bit GUI executable.

enable_language(RC)
include(${CMAKE_CURRENT_LIST_DIR}/IconTool.cmake)
ovq_generate_icon(OVQ_ICON_FILE)

add_executable(ovq WIN32 ${OVQ_SOURCES} res/ovq.rc)
add_dependencies(ovq ovq_icon)
target_include_directories(ovq PRIVATE src res ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(res/ovq.rc PROPERTIES OBJECT_DEPENDS "${OVQ_ICON_FILE}")
target_link_libraries(ovq PRIVATE user32 shell32)

if(MSVC)
    target_compile_options(ovq PRIVATE /W4 /GR- /EHs-c-)
    set_property(TARGET ovq PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
    # No exception or RTTI machinery, and no MinGW runtime DLLs beside the program.
    target_compile_options(ovq PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti
                                       -fno-asynchronous-unwind-tables)
    target_link_options(ovq PRIVATE -static -s)
endif()

if(CMAKE_CROSSCOMPILING)
    add_subdirectory(tests/probe)
    add_subdirectory(tests/wine)
endif()
