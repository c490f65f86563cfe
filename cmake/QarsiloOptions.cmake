# One INTERFACE target carries the warning flags, the Qt defines and the
# sanitizer flags; every target of the project links it.
add_library(qarsilo_options INTERFACE)
target_compile_options(qarsilo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(qarsilo_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS
  QARSILO_VERSION_TEXT="1.02")
if(QARSILO_WERROR)
  target_compile_options(qarsilo_options INTERFACE -Werror)
endif()

if(QARSILO_SANITIZER)
  if(NOT QARSILO_SANITIZER MATCHES "^(address|undefined|address,undefined|undefined,address|thread)$")
    message(FATAL_ERROR "QARSILO_SANITIZER must be address, undefined, address,undefined or thread")
  endif()
  target_compile_options(qarsilo_options INTERFACE
    -fsanitize=${QARSILO_SANITIZER} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(qarsilo_options INTERFACE -fsanitize=${QARSILO_SANITIZER})
endif()
