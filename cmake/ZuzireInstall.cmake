# `cmake --install` lays the program out as a Linux desktop expects: the programs in bin, the
# resources in share/zuzire (where the program looks, relative to its own bin folder), the
# desktop entry and the icon where menus and docks find them.
include(GNUInstallDirs)
install(TARGETS zuzire zuzire-library RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS zuzire_sound_output zuzire_raw_metadata LIBRARY DESTINATION ${ZUZIRE_MODULE_DIR})
install(TARGETS zuzire-library-full RUNTIME DESTINATION ${ZUZIRE_MODULE_DIR})
# The RateItem script keeps its execute permission.
install(DIRECTORY ${ZUZIRE_RESOURCE_OUTPUT_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zuzire USE_SOURCE_PERMISSIONS)
install(FILES ${PROJECT_SOURCE_DIR}/resources/files/zuzire.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/files/zuzire.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/files/zuzire.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
# Gives the seat's user access to infrared receivers (see the README for installing it by hand).
install(FILES ${PROJECT_SOURCE_DIR}/resources/udev/70-zuzire-remote.rules DESTINATION lib/udev/rules.d)
