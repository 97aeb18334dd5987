# The desktop entry and the bookmark file types, so that file managers open
# ".zarvel" and ".sync.zarvel" files with the program. After installing,
# the system's caches are refreshed by the usual triggers
# (update-mime-database, update-desktop-database).
include(GNUInstallDirs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zarvel.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zarvel-mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME zarvel.xml)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/Resources/bookmark.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME zarvel.png)
