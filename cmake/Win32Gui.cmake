# The window program on Windows: native controls over the toolkit-free form, linked statically so
# that it needs only the system's own DLLs.

enable_language(RC)

add_library(tabrescue_win32_gui STATIC
            ${PROJECT_SOURCE_DIR}/src/app/win32_window.cpp
            ${PROJECT_SOURCE_DIR}/src/choosers/win32_dialogs.cpp)
target_compile_definitions(tabrescue_win32_gui PUBLIC UNICODE _UNICODE _WIN32_WINNT=0x0601)
target_link_libraries(tabrescue_win32_gui PUBLIC tabrescue_form comctl32 comdlg32 shell32 ole32 uuid
                                          PRIVATE tabrescue_options)

# Icon, version information and manifest; the compiler options of our C++ targets mean nothing to windres.
add_library(tabrescue_win32_resources OBJECT ${PROJECT_SOURCE_DIR}/src/app/tabrescue-gui.rc)
target_include_directories(tabrescue_win32_resources PRIVATE ${PROJECT_SOURCE_DIR}/data/windows
                                                             ${PROJECT_SOURCE_DIR}/src/app)
string(REPLACE "." "," TABRESCUE_VERSION_COMMAS "${PROJECT_VERSION}.0")
target_compile_definitions(tabrescue_win32_resources PRIVATE TABRESCUE_VERSION_COMMAS=${TABRESCUE_VERSION_COMMAS}
                                                             TABRESCUE_VERSION_DOTS=${PROJECT_VERSION})
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/app/tabrescue-gui.rc PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/src/app/tabrescue-gui.manifest;${PROJECT_SOURCE_DIR}/data/windows/tabrescue.ico;${PROJECT_SOURCE_DIR}/data/windows/folder.ico")

add_executable(tabrescue-gui WIN32 ${PROJECT_SOURCE_DIR}/src/app/win32_main.cpp
                                   $<TARGET_OBJECTS:tabrescue_win32_resources>)
target_link_libraries(tabrescue-gui PRIVATE tabrescue_win32_gui tabrescue_options)
install(TARGETS tabrescue-gui RUNTIME DESTINATION bin)
