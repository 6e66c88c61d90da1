# The win32 platform layer (included by platform/CMakeLists.txt).
add_library(saalwacht_platform STATIC
  win32/processes_win32.cpp
  win32/session_win32.cpp
  win32/power_win32.cpp
  win32/spool_win32.cpp
  win32/system_win32.cpp
  win32/launcher_win32.cpp
  win32/echo_win32.cpp
  win32/version_win32.cpp
  win32/quit_signal_win32.cpp
  win32/wide.cpp
  win32/console_lock_win32.cpp
)
target_link_libraries(saalwacht_platform
  PUBLIC saalwacht_protocol ws2_32 mswsock
  PRIVATE shell32 advapi32 version)

# The cross compiler does not search /usr/include; it gets a folder that holds
# Asio and nothing else.
if(CMAKE_CROSSCOMPILING)
  find_path(SAALWACHT_HOST_ASIO_DIR asio.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(asio_only ${CMAKE_BINARY_DIR}/asio-include)
  file(MAKE_DIRECTORY ${asio_only})
  file(CREATE_LINK ${SAALWACHT_HOST_ASIO_DIR}/asio.hpp ${asio_only}/asio.hpp SYMBOLIC)
  file(CREATE_LINK ${SAALWACHT_HOST_ASIO_DIR}/asio ${asio_only}/asio SYMBOLIC)
  target_include_directories(saalwacht_platform SYSTEM PUBLIC ${asio_only})
endif()

enable_language(RC)
# Every Windows program carries the project version in a VERSIONINFO resource.
math(EXPR SAALWACHT_VERSION_TWEAK "0${PROJECT_VERSION_TWEAK}")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/win32/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)
target_sources(saalwacht_platform INTERFACE ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
