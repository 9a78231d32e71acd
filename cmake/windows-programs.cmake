# Flags for programs that must start on a bare Windows 95 or NT 4 machine: they import only
# system DLLs, so they carry their own entry point and the few helpers the compiler calls.
enable_language(RC)

add_compile_options(-Os -fno-asynchronous-unwind-tables -fno-unwind-tables
                    -fno-tree-loop-distribute-patterns -fno-stack-protector -ffunction-sections
                    -fdata-sections -fno-builtin
                    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>
                    $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>
                    $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>)
# Stack probes stay on: a frame bigger than a page must touch the guard page in order, or
# Windows faults instead of growing the stack. libgcc supplies the probe (___chkstk_ms).

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(WINDOWS_ENTRY_SYMBOL _Entry@0)
  # The 386 instruction set, Windows 95's minimum: the toolchain's default is the Pentium Pro,
  # whose conditional moves fault on the 486s and Pentiums that 95 and 98 ran on. Tuned for
  # today's processors all the same; -Os decides most choices anyway. tests/pe checks the
  # result, libgcc's helpers included, instruction by instruction.
  add_compile_options(-march=i386 -mtune=generic)
  # PE32 i386 GUI program that Windows 95 and NT 4 accept: subsystem and OS version 4.0.
  # An .exe is always mapped at its preferred base on Windows 95 and NT 4, so it needs no
  # relocations; without them the image may not ask for a random base either.
  set(WINDOWS_VERSION_FLAGS -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4
                            -Wl,--minor-os-version,0 -Wl,--disable-reloc-section
                            -Wl,--disable-dynamicbase)
else()
  set(WINDOWS_ENTRY_SYMBOL Entry)
  set(WINDOWS_VERSION_FLAGS -Wl,--subsystem,windows)
endif()

# windows_program(target output-name SOURCES sources... LIBS dlls...)
# The entry point is Entry in common/entry_win.cpp; nothing of the C runtime is linked, and
# libgcc only for the helpers GCC calls itself (stack probe, 64-bit division). The linker's
# map goes beside the program (<output>.map): it tells the instruction check where each
# function begins and what in the code section is data, and names the libgcc members taken.
function(windows_program target output)
  cmake_parse_arguments(WP "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} WIN32 ${WP_SOURCES})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${output}" SUFFIX "")
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -s -Wl,--gc-sections
                      -Wl,--no-insert-timestamp -Wl,-Map,${output}.map
                      -Wl,-e,${WINDOWS_ENTRY_SYMBOL} ${WINDOWS_VERSION_FLAGS})
  target_link_libraries(${target} PRIVATE ${WP_LIBS} gcc)
endfunction()

# add_seam_functions(target source)
# Compiles `source` (common/platform_win.cpp) once per `#ifdef SEAM_<name>` block in it, each
# time with only SEAM_<name> defined, and adds the objects to `target`. The linker takes from
# a library whole object files, and an object keeps all the imports it names even when
# --gc-sections drops the functions that use them; with one function per object, a program
# imports exactly the Windows functions it calls.
function(add_seam_functions target source)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(STRINGS ${source} blocks REGEX "^#ifdef SEAM_[A-Za-z0-9_]+$")
  foreach(block ${blocks})
    string(REGEX REPLACE "^#ifdef SEAM_" "" name "${block}")
    set(part ${CMAKE_CURRENT_BINARY_DIR}/seam/${name}_win.cpp)
    file(CONFIGURE OUTPUT ${part}
         CONTENT "#define SEAM_${name}\n#include \"${source}\"\n")
    target_sources(${target} PRIVATE ${part})
  endforeach()
endfunction()
