# The student helpers as plain Win32 programs (included by helpers/CMakeLists.txt).
add_library(saalwacht_helpers_win32 STATIC
  win32/message_window_win32.cpp
  win32/message_window_win32.h
  win32/command_line_win32.cpp
  win32/command_line_win32.h
)
target_include_directories(saalwacht_helpers_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/win32)
target_link_libraries(saalwacht_helpers_win32 PUBLIC user32 gdi32 shell32)

# The version resource comes with the platform library's interface.
add_executable(swdkl WIN32 win32/swdkl_win32.cpp)
target_link_libraries(swdkl PRIVATE saalwacht_helpers_win32 saalwacht_platform)

add_executable(swmsg WIN32 win32/swmsg_win32.cpp)
target_link_libraries(swmsg PRIVATE saalwacht_helpers_win32 saalwacht_platform)

add_executable(swsdmsg WIN32 win32/swsdmsg_win32.cpp)
target_link_libraries(swsdmsg PRIVATE saalwacht_helpers_win32 saalwacht_platform)

add_executable(swscr WIN32 win32/swscr_win32.cpp)
target_link_libraries(swscr PRIVATE saalwacht_helpers_win32 saalwacht_platform gdiplus ole32 uuid)
