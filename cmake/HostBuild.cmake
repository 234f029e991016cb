# The host build: the program's sources compiled for Linux against the
# simulated Windows layer under tests/sim, and the fast tests.

find_package(GTest REQUIRED)

set(OVQ_WARNINGS -Wall -Wextra)

# The simulated layer's <windows.h> and <shellapi.h> come first on the path.
add_library(winsim STATIC tests/sim/src/WinSim.cpp)
target_include_directories(winsim BEFORE PUBLIC tests/sim/include)
target_compile_options(winsim PRIVATE ${OVQ_WARNINGS})

add_library(ovq_program STATIC ${OVQ_SOURCES})
target_include_directories(ovq_program PUBLIC src res ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(ovq_program PUBLIC winsim)
target_compile_options(ovq_program PRIVATE ${OVQ_WARNINGS})

include(${CMAKE_CURRENT_LIST_DIR}/IconTool.cmake)

add_subdirectory(tests/host)
