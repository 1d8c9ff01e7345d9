# The browser edition (Emscripten): the product's run as a WebAssembly module over Web MIDI, the
# emulated device as a module of its own for the demo and the browser tests, and the page, all
# static files in out/web.
set(TALVERON_WEB_OUT "${PROJECT_SOURCE_DIR}/out/web" CACHE PATH "Where the page's files go")
set(TALVERON_XTERM_DIR "${PROJECT_SOURCE_DIR}/web/node_modules/@xterm/xterm" CACHE PATH
    "xterm.js as npm ci installs it")

add_library(talveron_midi_web STATIC platform/web/web_midi_port_system.cpp)
target_link_libraries(talveron_midi_web PUBLIC talveron_winmm_face)

# Pauses and the key press suspend the program (Asyncify) and hand the thread to the page. The
# page creates one instance per run, so that every run starts from the program's initial state.
add_executable(talveron-update-web programs/talveron_update_web.cpp)
set_target_properties(talveron-update-web PROPERTIES OUTPUT_NAME talveron-update)
target_link_libraries(talveron-update-web PRIVATE talveron_core talveron_midi_web)
target_link_options(talveron-update-web PRIVATE
  -sASYNCIFY
  "-sASYNCIFY_IMPORTS=[pagePauseSuspended,pageWaitForKey]"
  # What a pause saves of the program's call stack: runUpdate down to Sleep.
  -sASYNCIFY_STACK_SIZE=65536
  -sMODULARIZE
  -sEXPORT_NAME=createTalveronUpdate
  -sENVIRONMENT=web
  -sINVOKE_RUN=0
  -sFORCE_FILESYSTEM
  "-sEXPORTED_RUNTIME_METHODS=[FS,callMain]")

add_executable(emulated-device-web programs/emulated_device_web.cpp)
target_link_libraries(emulated-device-web PRIVATE talveron_emulated_device talveron_sample_kit)
set_target_properties(emulated-device-web PROPERTIES OUTPUT_NAME emulated-device)
target_link_options(emulated-device-web PRIVATE
  -sMODULARIZE
  -sEXPORT_NAME=createEmulatedDevice
  -sENVIRONMENT=web
  "-sEXPORTED_FUNCTIONS=[_malloc,_free]"
  "-sEXPORTED_RUNTIME_METHODS=[UTF8ToString,stringToUTF8,lengthBytesUTF8]")

set(TALVERON_WEB_PAGE_FILES
  web/page/index.html
  web/page/page.css
  web/page/page.js
  web/page/page_host.js
  web/page/emulated_midi_access.js
  web/page/device_picker.js)
include(cmake/endings.cmake)
set(TALVERON_WEB_BUILT_FILES
  ${CMAKE_CURRENT_BINARY_DIR}/endings.js
  ${CMAKE_CURRENT_BINARY_DIR}/talveron-update.js
  ${CMAKE_CURRENT_BINARY_DIR}/talveron-update.wasm
  ${CMAKE_CURRENT_BINARY_DIR}/emulated-device.js
  ${CMAKE_CURRENT_BINARY_DIR}/emulated-device.wasm)
list(TRANSFORM TALVERON_WEB_PAGE_FILES PREPEND "${PROJECT_SOURCE_DIR}/")
if(NOT EXISTS "${TALVERON_XTERM_DIR}/lib/xterm.js")
  message(FATAL_ERROR "xterm.js not found in ${TALVERON_XTERM_DIR}: run npm ci in web/ (make web)")
endif()
# Every file the page loads, for out/web and for the package alike.
set(TALVERON_WEB_FILES ${TALVERON_WEB_PAGE_FILES} ${TALVERON_WEB_BUILT_FILES}
    "${TALVERON_XTERM_DIR}/lib/xterm.js" "${TALVERON_XTERM_DIR}/css/xterm.css")
add_custom_target(web-page ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory "${TALVERON_WEB_OUT}"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TALVERON_WEB_FILES} "${TALVERON_WEB_OUT}/"
  DEPENDS talveron-update-web emulated-device-web ${TALVERON_WEB_PAGE_FILES}
  COMMENT "The page in ${TALVERON_WEB_OUT}"
  VERBATIM)

include(cmake/packaging.cmake)
