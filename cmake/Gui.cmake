# The window program: a static library the tests link, and the executable around it.

add_library(tabrescue_gui STATIC
            ${PROJECT_SOURCE_DIR}/src/app/main_window.cpp
            ${PROJECT_SOURCE_DIR}/src/app/main_window.h
            ${PROJECT_SOURCE_DIR}/src/app/path_text.cpp
            ${PROJECT_SOURCE_DIR}/src/choosers/qt_dialogs.cpp)
target_link_libraries(tabrescue_gui PUBLIC tabrescue_form Qt6::Widgets PRIVATE tabrescue_options)
# Moc only where Qt is: the core and its tests never need it.
set_target_properties(tabrescue_gui PROPERTIES AUTOMOC ON)

add_executable(tabrescue-gui ${PROJECT_SOURCE_DIR}/src/app/main.cpp)
target_link_libraries(tabrescue-gui PRIVATE tabrescue_gui tabrescue_options)
set_target_properties(tabrescue-gui PROPERTIES WIN32_EXECUTABLE ON)

# F1 opens README.TXT from the program's own folder, so it lies beside the built program too.
set(TABRESCUE_HELP ${PROJECT_SOURCE_DIR}/data/README.TXT)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/README.TXT
                   COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TABRESCUE_HELP} ${PROJECT_BINARY_DIR}/README.TXT
                   DEPENDS ${TABRESCUE_HELP})
add_custom_target(tabrescue_help ALL DEPENDS ${PROJECT_BINARY_DIR}/README.TXT)
add_dependencies(tabrescue-gui tabrescue_help)

include(GNUInstallDirs)
install(TARGETS tabrescue-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TABRESCUE_HELP} DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/tabrescue-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
