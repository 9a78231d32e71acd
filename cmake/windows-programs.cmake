# Flags for programs that must start on a bare Windows 95 or NT 4 machine: they import only
# system DLLs, so they carry their own entry point and the few helpers the compiler calls.
add_compile_options(-Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
                    -fno-unwind-tables -fno-tree-loop-distribute-patterns -fno-stack-protector
                    -fno-threadsafe-statics -ffunction-sections -fdata-sections
                    -fno-builtin -mno-stack-arg-probe)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(WINDOWS_ENTRY_SYMBOL _Entry@0)
  set(WINDOWS_VERSION_FLAGS -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4
                            -Wl,--minor-os-version,0)
else()
  set(WINDOWS_ENTRY_SYMBOL Entry)
  set(WINDOWS_VERSION_FLAGS -Wl,--subsystem,windows)
endif()

# windows_program(target output-name sources... LIBS dlls...)
function(windows_program target output)
  cmake_parse_arguments(WP "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${WP_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${output}" SUFFIX "")
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -s -Wl,--gc-sections
                      -Wl,-e,${WINDOWS_ENTRY_SYMBOL} ${WINDOWS_VERSION_FLAGS})
  target_link_libraries(${target} PRIVATE ${WP_LIBS} gcc)
endfunction()
