# The Windows program, BR32UNIN.EXE: C++ without exceptions, RTTI or the C++
# library, and without a C run-time library.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 1252")

file(GLOB BR_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*.rc)

add_executable(br32unin WIN32 ${BR_ENGINE_SOURCES} ${BR_UI_SOURCES} ${BR_PLATFORM_SOURCES}
               ${BR_RESOURCES})
set_target_properties(br32unin PROPERTIES OUTPUT_NAME BR32UNIN SUFFIX ".EXE")
target_include_directories(br32unin PRIVATE ${BR_INCLUDES})
# For the 80386 (Windows 95's least processor): Debian's compiler defaults to
# the Pentium Pro, whose cmov the 386, 486, Pentium and K6 do not have. No
# floating point either (a 386 may have no coprocessor), and no libgcc,
# which is built for the Pentium Pro too: the program needs none of it.
# The x86_64 build (win64 preset, for the Wine suite only) takes none of
# these, and its entry point's name has no leading underscore.
#
# The code is made at link time (-flto), over the whole program at once: our
# own functions then pass arguments as the compiler finds best, while every
# call into Windows keeps its declared convention. So the flags that shape
# the code go to the link as well as to the compiler. -Oz: the smallest
# code, where -Os would still trade bytes for speed; nothing here is hot
# but the INF word scan, whose reads dominate it. -malign-data=abi: tables
# and texts aligned as the types need, not to 32 bytes for vector loads
# that a 386 does not have. No section a function: each would start on a
# 4-byte boundary, and the link-time code keeps no function unused anyway.
set(BR_CODE_FLAGS -Oz -malign-data=abi -flto -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-threadsafe-statics -ffreestanding -fno-stack-protector -fno-builtin
  -fomit-frame-pointer)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(BR_ENTRY WinMainCRTStartup)
else()
  set(BR_ENTRY _WinMainCRTStartup)
  list(APPEND BR_CODE_FLAGS -march=i386 -mtune=i486 -mgeneral-regs-only -mpreferred-stack-boundary=2)
endif()
target_compile_options(br32unin PRIVATE ${BR_CODE_FLAGS} -fno-ident)
target_link_options(br32unin PRIVATE
  ${BR_CODE_FLAGS} -nostdlib -s
  -Wl,--subsystem,windows:4.0 -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,-e,${BR_ENTRY} -Wl,--gc-sections
  # An executable loads at its preferred base (Windows 95 never moves one),
  # so it carries no relocations.
  -Wl,--disable-dynamicbase -Wl,--disable-reloc-section -Wl,--disable-nxcompat)
target_link_libraries(br32unin PRIVATE kernel32 user32 advapi32 comctl32)

# The size that counts for Windows 95 floppies and downloads: the stripped file.
add_custom_command(TARGET br32unin POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:br32unin> -P ${CMAKE_SOURCE_DIR}/cmake/print_size.cmake
  VERBATIM)

# WINDRIVE.EXE: the Wine suite's helper that finds the program's dialogs by
# caption and clicks them (tests/wine). A console program, so that its
# reports reach the suite on standard output; it may use the C library.
add_executable(windrive ${CMAKE_SOURCE_DIR}/tests/wine/windrive.cpp)
set_target_properties(windrive PROPERTIES OUTPUT_NAME WINDRIVE SUFFIX ".EXE")
target_compile_options(windrive PRIVATE -O2)
target_link_options(windrive PRIVATE -static -s)
target_link_libraries(windrive PRIVATE user32 advapi32 winmm)
