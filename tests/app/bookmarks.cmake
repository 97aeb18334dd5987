# Connection bookmarks: cipher, store and files, windows.
zarvel_test(app_bookmarks_cipher_test
    SOURCES bookmarks_cipher_test.cpp
    LIBS zarvel_app
    LABELS unit
    TIMEOUT 60)
