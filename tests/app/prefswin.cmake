# Preferences window, sound playback and About window.
set(prefswin_env
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
    "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

zarvel_test(app_prefs_sound_test
    SOURCES prefs_sound_test.cpp
    LIBS zarvel_app zarvel_platform_ui_testing
    LABELS unit
    ENV ${prefswin_env}
    TIMEOUT 120)

zarvel_test(app_prefs_window_test
    SOURCES prefs_window_test.cpp
    LIBS zarvel_app zarvel_platform_ui_testing
    LABELS unit
    ENV ${prefswin_env}
    TIMEOUT 120)

zarvel_test(app_prefs_about_test
    SOURCES prefs_about_test.cpp
    LIBS zarvel_app zarvel_platform_ui_testing
    LABELS unit
    ENV ${prefswin_env}
    TIMEOUT 120)

# The real player: not under the sanitizers, whose leak reports the media
# framework's libraries would fill.
zarvel_test(app_prefs_player_test
    SOURCES prefs_player_test.cpp
    LIBS zarvel_app
    ENV ${prefswin_env}
    TIMEOUT 120)

# 'prfU' reaching two open FTP connections on the real server.
zarvel_test(app_prefs_backends_test
    SOURCES prefs_backends_test.cpp
    LIBS zarvel_app zarvel_platform_ui_testing zarvel_conn_testsupport zarvel_engine
    FIXTURES pyftpd
    ENV ${prefswin_env}
    TIMEOUT 120)
