# What the installed program needs: the program, its interface files and
# images, the desktop entry, the bookmark file types and the icon (the sftp
# tool installs itself). The program finds its files relative to its own
# folder (bin/../share/zarvel, bin/../libexec/zarvel), so the tree runs from
# any prefix; after installing, the system's caches are refreshed by the
# usual triggers (update-mime-database, update-desktop-database,
# gtk-update-icon-cache).
install(TARGETS zarvel RUNTIME DESTINATION bin)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/Resources/ DESTINATION share/zarvel/Resources)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/icons/ DESTINATION share/zarvel/icons
    FILES_MATCHING PATTERN "zarvel-*.png")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zarvel.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zarvel-mime.xml
    DESTINATION share/mime/packages RENAME zarvel.xml)
foreach(size 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/zarvel-${size}.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME zarvel.png)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/zarvel.svg
    DESTINATION share/icons/hicolor/scalable/apps)
