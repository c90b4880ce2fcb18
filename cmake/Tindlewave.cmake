# Build helpers shared by every layer. Sources are found by globbing, so adding a file never
# requires touching a CMakeLists.

set(TW_ROOT ${CMAKE_CURRENT_SOURCE_DIR})

# Unity builds: each target's files are compiled in batches of TW_UNITY_BATCH, one compiler run per
# batch, which parses the shared headers and instantiates the shared templates once per batch
# instead of once per file (the layers build in less than half the CPU time). Names at file scope
# (anonymous namespaces, static functions, using-directives) then meet those of the other files of
# the batch: a file whose names clash with another's is built on its own by naming it in
# tw_build_alone() in the top-level CMakeLists.txt. Every target made by the functions below is built this way; -DTW_UNITY=OFF
# builds file by file.
option(TW_UNITY "Compile each target's files in batches (unity build)" ON)
set(TW_UNITY_BATCH 8 CACHE STRING "Files per batch in unity builds")

# Files (relative to the repository) built on their own, outside the batches.
function(tw_build_alone)
  foreach(file ${ARGN})
    if(NOT EXISTS ${TW_ROOT}/${file})
      message(FATAL_ERROR "tw_build_alone: ${file} does not exist")
    endif()
    set_source_files_properties(${TW_ROOT}/${file} DIRECTORY ${TW_ROOT}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()

function(tw_speed_up target)
  if(NOT TW_UNITY)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${TW_UNITY_BATCH})
  # A type from an anonymous namespace used by a test fixture's class is fine in a .cpp, but GCC
  # takes the batched file for a header and warns.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()

function(tw_apply_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
  # GCC 12 reports overlapping copies inside the standard string code when optimising
  # ("literal" + std::string&& and the like, GCC bug 105651, fixed in 13): none are real.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TW_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(TW_SANITIZE)
    # GCC 12 at -O1 with the sanitizers reports copies of empty optionals as "may be used
    # uninitialized"; those reports are false and differ from the optimised build's, which keeps them.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
    target_compile_options(${target} PRIVATE -fsanitize=${TW_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${TW_SANITIZE})
  endif()
endfunction()

# A layer library: every .cpp below `dir`. Headers are included as "Layer/File.h" relative to
# Sources/TindlewaveKit (for example "Model/Keys.h").
function(tw_add_layer name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${TW_ROOT}/Sources/TindlewaveKit)
    target_link_libraries(${name} PUBLIC ${ARGN})
    tw_apply_options(${name})
    tw_speed_up(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${TW_ROOT}/Sources/TindlewaveKit)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# A layer of the program above the kit: like tw_add_layer, and its headers are also included
# relative to Sources/Tindlewave ("Settings/Model/Edits/SettingsEdit.h", "App/AppModel.h").
function(tw_add_app_layer name dir)
  tw_add_layer(${name} ${dir} ${ARGN})
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${name} INTERFACE ${TW_ROOT}/Sources/Tindlewave)
  else()
    target_include_directories(${name} PUBLIC ${TW_ROOT}/Sources/Tindlewave)
  endif()
endfunction()

# A Qt layer of the program: like tw_add_app_layer, with moc run on its sources (Qt-free layers
# never run moc).
function(tw_add_qt_layer name dir)
  tw_add_app_layer(${name} ${dir} ${ARGN})
  get_target_property(type ${name} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# Data/<folder>/ ships with the programs as share/tindlewave/<folder>: copied beside the build's
# executables (a changed file is copied again on the next build) and installed under the prefix.
function(tw_add_data dir)
  file(GLOB children LIST_DIRECTORIES true ${TW_ROOT}/${dir}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child})
      get_filename_component(folder ${child} NAME)
      file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE ${child} ${child}/*)
      foreach(file ${files})
        configure_file(${child}/${file} ${CMAKE_BINARY_DIR}/share/tindlewave/${folder}/${file}
                       COPYONLY)
      endforeach()
      install(DIRECTORY ${child} DESTINATION share/tindlewave)
    endif()
  endforeach()
endfunction()

# One test executable per layer; every gtest case becomes its own ctest entry, labelled with the
# layer's folder name (or TW_TEST_LABEL when set) so presets can pick layers (the thread sanitizer
# runs Runtime and Platform).
function(tw_add_layer_tests name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  if(TW_TEST_LABEL)
    set(label ${TW_TEST_LABEL})
  else()
    get_filename_component(label ${dir} NAME)
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${TW_ROOT}/Tests)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TW_SOURCE_ROOT="${TW_ROOT}"
                                             TW_BINARY_ROOT="${CMAKE_BINARY_DIR}"
                                             TW_DATA_ROOT="${TW_ROOT}/Data")
  tw_apply_options(${name})
  tw_speed_up(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label} TIMEOUT 120)
endfunction()

# The widget tests: one executable with its own main (Tests/<dir>/main.cpp), which runs every test
# on the offscreen platform with a fixed 1440x900 screen at scale 2 (the primary one, and a 1024x600
# one on its right) described by a file generated here, an en_US locale, UTC and temporary home and
# XDG folders. Labelled Widgets.
function(tw_add_widget_tests name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(screen ${CMAKE_BINARY_DIR}/offscreen-screen.json)
  file(WRITE ${screen} [=[{"screens":[{"name":"Offscreen","x":0,"y":0,"width":1440,"height":900,"logicalDpi":96,"logicalBaseDpi":96,"dpr":2},
{"name":"Side","x":1440,"y":0,"width":1024,"height":600,"logicalDpi":96,"logicalBaseDpi":96,"dpr":2}]}
]=])
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${TW_ROOT}/Tests)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE TW_SOURCE_ROOT="${TW_ROOT}"
                                             TW_BINARY_ROOT="${CMAKE_BINARY_DIR}"
                                             TW_OFFSCREEN_SCREEN="${screen}")
  tw_apply_options(${name})
  tw_speed_up(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS Widgets TIMEOUT 120)
endfunction()

# Tools/<name>/*.cpp becomes the executable <name>.
function(tw_add_tools dir)
  file(GLOB children LIST_DIRECTORIES true ${TW_ROOT}/${dir}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child})
      get_filename_component(tool ${child} NAME)
      file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${child}/*.cpp)
      if(sources)
        add_executable(${tool} ${sources})
        target_link_libraries(${tool} PRIVATE tw_runtime)
        tw_apply_options(${tool})
        tw_speed_up(${tool})
      endif()
    endif()
  endforeach()
endfunction()

# Benchmarks/<area>.cpp becomes the executable bench_<area>; like the tests, they may use the
# test kit's manual executors (Tests/TestKit).
function(tw_add_benchmarks dir)
  file(GLOB sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  foreach(source ${sources})
    get_filename_component(area ${source} NAME_WE)
    if(area MATCHES "^app_")
      # The program's benchmarks are built with the program, link its shell and bring their
      # own main.
      if(NOT TW_BUILD_APP)
        continue()
      endif()
      add_executable(bench_${area} ${source})
      # Qt Test for the widget tests' whole user interface (Tests/Tindlewave/Views/ShellWorld.h),
      # found here too: a build without tests (the optimised one) has not looked for it.
      find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
      target_link_libraries(bench_${area} PRIVATE tw_shell benchmark::benchmark Qt6::Test)
      target_compile_definitions(bench_${area} PRIVATE TW_PROGRAM="$<TARGET_FILE:tindlewave>")
      add_dependencies(bench_${area} tindlewave)
      if(TARGET tindlewave-headless)
        target_compile_definitions(bench_${area} PRIVATE
                                   TW_HEADLESS_PROGRAM="$<TARGET_FILE:tindlewave-headless>")
        add_dependencies(bench_${area} tindlewave-headless)
      endif()
    elseif(area MATCHES "^keymap_")
      # Over the device emulation: built with its test kit and bringing its own main.
      if(NOT TARGET tw_umockdev_kit)
        continue()
      endif()
      add_executable(bench_${area} ${source})
      target_link_libraries(bench_${area} PRIVATE tw_runtime tw_umockdev_kit benchmark::benchmark)
    else()
      add_executable(bench_${area} ${source})
      target_link_libraries(bench_${area} PRIVATE tw_runtime benchmark::benchmark benchmark::benchmark_main)
    endif()
    target_include_directories(bench_${area} PRIVATE ${TW_ROOT}/Tests)
    tw_apply_options(bench_${area})
  endforeach()
endfunction()

# Tests/Fuzz/<target>.cpp becomes the libFuzzer executable fuzz_<target>; its seeds live in
# Tests/Fuzz/corpus/<target>/. The arguments after `dir` pair each target with the one layer it
# links (and so builds), for example `config_decode tw_model`; the target `fuzzers` builds them all.
function(tw_add_fuzzers dir)
  file(GLOB sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  add_custom_target(fuzzers)
  foreach(source ${sources})
    get_filename_component(target ${source} NAME_WE)
    list(FIND ARGN ${target} at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${dir}/${target}.cpp: name the layer it links in tw_add_fuzzers")
    endif()
    math(EXPR at "${at} + 1")
    list(GET ARGN ${at} layer)
    add_executable(fuzz_${target} ${source})
    add_dependencies(fuzzers fuzz_${target})
    target_link_libraries(fuzz_${target} PRIVATE ${layer})
    target_include_directories(fuzz_${target} PRIVATE ${TW_ROOT}/Tests)
    target_compile_definitions(fuzz_${target} PRIVATE TW_DATA_ROOT="${TW_ROOT}/Data")
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
    tw_apply_options(fuzz_${target})
  endforeach()
endfunction()

# The test kit for programs that run under the umockdev device emulation (Tests/TestKit/Umockdev):
# the library tw_umockdev_kit, which also gives those programs their main(), and the target
# umockdev_tests that builds every such program.
function(tw_add_umockdev_kit dir)
  file(GLOB sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  add_library(tw_umockdev_kit STATIC ${sources})
  target_include_directories(tw_umockdev_kit PUBLIC ${TW_ROOT}/Tests)
  target_link_libraries(tw_umockdev_kit PUBLIC ${ARGN} PkgConfig::UMOCKDEV GTest::gtest
                                               ${CMAKE_DL_LIBS})
  tw_apply_options(tw_umockdev_kit)
  # What the thread sanitizer cannot see under the preload (the file says why).
  target_compile_definitions(tw_umockdev_kit PRIVATE
    TW_TSAN_UNDER_UMOCKDEV_SUPPRESSIONS="${TW_ROOT}/${dir}/tsan-under-umockdev.supp")
  # Not batched: a program takes the kit's main() only when it has none of its own (benchmarks),
  # which needs main() in an object of its own.
  add_custom_target(umockdev_tests)
endfunction()

# A test program under the device emulation: every .cpp below `dir`, linked with the kit (whose
# main() runs the program again under the emulation's preload library, the address sanitizer's
# runtime first, in a short private TMPDIR) and the libraries after `dir`. Each gtest case is its
# own ctest entry labelled umockdev; the sanitizer presets run them too.
function(tw_add_umockdev_tests name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARGN} tw_umockdev_kit GTest::gtest GTest::gmock)
  target_compile_definitions(${name} PRIVATE TW_SOURCE_ROOT="${TW_ROOT}"
                                             TW_BINARY_ROOT="${CMAKE_BINARY_DIR}"
                                             TW_DATA_ROOT="${TW_ROOT}/Data")
  tw_apply_options(${name})
  tw_speed_up(${name})
  add_dependencies(umockdev_tests ${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS umockdev TIMEOUT 60)
endfunction()

# The kernel tier (label kernel): `dir`/Scenarios/*.cpp become the scenario program
# tw_kernel_scenarios (GoogleTest, one test per scenario, linked with the libraries after `dir`),
# which runs inside virtual machines booted from this machine's kernel (`dir`/run-vms.sh). The
# entry kernel.boot boots them once and runs every scenario; each scenario's own entry
# (kernel.<Suite>.<Name>, found in the sources here) reads its result (`dir`/verdict.sh), with
# `dir`/known-failures.txt. Without root, QEMU or a kernel image every entry skips.
function(tw_add_kernel_tier dir)
  file(GLOB sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/Scenarios/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(tw_kernel_scenarios ${sources})
  target_include_directories(tw_kernel_scenarios PRIVATE ${TW_ROOT}/Tests)
  target_link_libraries(tw_kernel_scenarios PRIVATE ${ARGN} GTest::gtest GTest::gmock
                                                    GTest::gtest_main)
  target_compile_definitions(tw_kernel_scenarios PRIVATE TW_SOURCE_ROOT="${TW_ROOT}"
                                                         TW_BINARY_ROOT="${CMAKE_BINARY_DIR}"
                                                         TW_DATA_ROOT="${TW_ROOT}/Data")
  tw_apply_options(tw_kernel_scenarios)
  tw_speed_up(tw_kernel_scenarios)
  set(results ${CMAKE_BINARY_DIR}/kernel-tier)
  add_test(NAME kernel.boot
           COMMAND ${TW_ROOT}/${dir}/run-vms.sh ${TW_ROOT} ${CMAKE_BINARY_DIR}
                   $<TARGET_FILE:tw_kernel_scenarios> ${results})
  set_tests_properties(kernel.boot PROPERTIES LABELS kernel FIXTURES_SETUP kernel_vm
                                              SKIP_RETURN_CODE 77 TIMEOUT 3600)
  foreach(source ${sources})
    set_property(DIRECTORY ${TW_ROOT} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(STRINGS ${source} lines REGEX "^TEST(_F)?\\([A-Za-z0-9_]+, *[A-Za-z0-9_]+\\)")
    foreach(line ${lines})
      string(REGEX REPLACE "^TEST(_F)?\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\).*" "\\2.\\3" name "${line}")
      add_test(NAME kernel.${name}
               COMMAND ${TW_ROOT}/${dir}/verdict.sh ${results} ${name}
                       ${TW_ROOT}/${dir}/known-failures.txt)
      set_tests_properties(kernel.${name} PROPERTIES LABELS kernel FIXTURES_REQUIRED kernel_vm
                                                     SKIP_RETURN_CODE 77 TIMEOUT 60)
    endforeach()
  endforeach()
endfunction()

# The device maker of the kernel tier (Tests/TestKit/Uhid): devices made through /dev/uhid.
function(tw_add_uhid_kit dir)
  file(GLOB sources CONFIGURE_DEPENDS ${TW_ROOT}/${dir}/*.cpp)
  add_library(tw_uhid_kit STATIC ${sources})
  target_include_directories(tw_uhid_kit PUBLIC ${TW_ROOT}/Tests)
  target_link_libraries(tw_uhid_kit PUBLIC ${ARGN} Threads::Threads)
  tw_apply_options(tw_uhid_kit)
  tw_speed_up(tw_uhid_kit)
endfunction()
