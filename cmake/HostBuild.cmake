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
add_subdirectory(tests/bench)

# The fuzz target needs clang's libFuzzer; it is built as a project of its own,
# with the fault sweep under the same sanitizers.
find_program(OVQ_CLANGXX NAMES clang++ clang++-14 REQUIRED)
include(ExternalProject)
ExternalProject_Add(received_text_fuzz_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${OVQ_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
               -DOVQ_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DOVQ_GENERATED_DIR=${CMAKE_BINARY_DIR}/generated
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)

set(OVQ_FUZZ_SECONDS 60 CACHE STRING "How long the fuzz test runs")
add_test(NAME fuzz.received_text
    COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run-fuzz.sh ${CMAKE_BINARY_DIR}/fuzz/received_text_fuzz
            ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds ${CMAKE_BINARY_DIR}/fuzz-work ${OVQ_FUZZ_SECONDS})
set_tests_properties(fuzz.received_text PROPERTIES TIMEOUT 600)

add_test(NAME sanitized.fault_sweep COMMAND ${CMAKE_BINARY_DIR}/fuzz/fault_sweep_sanitized)
set_tests_properties(sanitized.fault_sweep PROPERTIES
    TIMEOUT 300 ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=halt_on_error=1")

# The layout of every C++ file, and the static checks of the program's sources
# compiled as this build compiles them (compile_commands.json).
add_test(NAME style.format COMMAND bash ${CMAKE_SOURCE_DIR}/tests/style/check-format.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(style.format PROPERTIES TIMEOUT 120)
list(TRANSFORM OVQ_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE ovq_source_paths)
add_test(NAME style.tidy COMMAND bash ${CMAKE_SOURCE_DIR}/tests/style/check-tidy.sh ${CMAKE_BINARY_DIR} ${ovq_source_paths})
set_tests_properties(style.tidy PROPERTIES TIMEOUT 300)

# The scripts' decisions, tried without Wine: which path each kind of host
# takes (scripts/host.sh), and that a Wine state directory of one kind is never
# taken over by a run of the other (scripts/wine-env.sh).
foreach(script host-decision wine-state)
    add_test(NAME scripts.${script} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/${script}.sh)
    set_tests_properties(scripts.${script} PROPERTIES TIMEOUT 60 LABELS scripts)
endforeach()

# The package versions installer/make-msi.sh takes and refuses (wixl and
# msitools, which scripts/install-deps.sh installs).
add_test(NAME installer.versions COMMAND bash ${CMAKE_SOURCE_DIR}/tests/release/make-msi-versions.sh)
set_tests_properties(installer.versions PROPERTIES TIMEOUT 120 LABELS installer)

# The installer's custom actions (installer/) against the simulated machine:
# sessions, users' tokens, processes, the registry and the installation.
add_library(machinesim STATIC tests/sim/src/MachineSim.cpp)
target_include_directories(machinesim BEFORE PUBLIC tests/sim/include)
target_compile_options(machinesim PRIVATE ${OVQ_WARNINGS})
add_library(endcopy_host STATIC installer/EndCopy.cpp installer/Copies.cpp installer/EndedCopies.cpp
    installer/InstallLog.cpp src/platform/Memory.cpp)
target_include_directories(endcopy_host PUBLIC src installer)
target_link_libraries(endcopy_host PUBLIC machinesim)
target_compile_options(endcopy_host PRIVATE ${OVQ_WARNINGS})

# The pages (README.md, CHANGELOG.md, docs/): every link, path, preset, test
# and variable they name exists, every figure they state is the build's or a
# generated table's own, and README.txt made of docs/using.md is what a user
# is promised.
add_test(NAME docs.check
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/docs/check-docs.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/docs-check)
set_tests_properties(docs.check PROPERTIES TIMEOUT 120 LABELS docs)
