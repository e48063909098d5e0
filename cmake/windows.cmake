# Windows build settings: the system libraries the core's Windows twins use, a self-contained
# executable, and the program's resources. Included from the top-level CMakeLists.txt.

# Unicode Win32 API throughout (the core converts at the boundary), and nothing from the old
# headers that clash with std:: names.
target_compile_definitions(kelvo_base PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                           _WIN32_WINNT=0x0601)
target_link_libraries(kelvo_net PUBLIC ws2_32 iphlpapi)
target_link_libraries(kelvo_app PUBLIC version)

# No libstdc++, libgcc or winpthread DLLs beside the executable: everything of the compiler's
# runtime is linked in, so only system DLLs are imported.
target_link_options(kelvo_base INTERFACE -static -static-libgcc -static-libstdc++)

# kelvo_add_windows_resources(<target>): the program's resources, compiled with windres into the
# executable. resources/kelvorelay.rc includes the version resource generated here from the
# project version; the Win32 front-end adds its icons, dialogs and pictures to the .rc.
enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in
               ${PROJECT_BINARY_DIR}/resources/version.rc @ONLY)
function(kelvo_add_windows_resources target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/resources/kelvorelay.rc)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/resources/kelvorelay.rc APPEND PROPERTY
               INCLUDE_DIRECTORIES ${PROJECT_BINARY_DIR}/resources
               ${PROJECT_SOURCE_DIR}/resources/windows ${PROJECT_SOURCE_DIR}/resources/pictures)
endfunction()

# kelvo_strip_debug_info(<target>): the executable that is installed carries no debug
# information (17 of its 18 MB in a RelWithDebInfo build). It goes into <file>.debug beside the
# executable, which names it (gnu-debuglink), so that gdb finds it again.
function(kelvo_strip_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "objcopy of the mingw-w64 binutils is needed to strip ${target}")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
