# One target carries every compile setting of the project; everything links it.
add_library(bc_settings INTERFACE)
target_compile_features(bc_settings INTERFACE cxx_std_20)
target_compile_options(bc_settings INTERFACE
  -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(bc_settings INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  BC_VERSION_STRING="${PROJECT_VERSION}")
if(BC_WERROR)
  target_compile_options(bc_settings INTERFACE -Werror)
endif()
if(BC_ASAN AND BC_TSAN)
  message(FATAL_ERROR "BC_ASAN and BC_TSAN exclude each other")
endif()
if(BC_ASAN)
  target_compile_options(bc_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(bc_settings INTERFACE -fsanitize=address,undefined)
endif()
if(BC_TSAN)
  target_compile_options(bc_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(bc_settings INTERFACE -fsanitize=thread)
endif()
