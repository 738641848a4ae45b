# One target carries every compile setting of the project; everything links it. bc_base is the
# same without the sanitizers: the SMB helper takes it in the TSan build (it is single-threaded,
# and the SMB library's own signal handlers would trip ThreadSanitizer there).
add_library(bc_base INTERFACE)
target_compile_features(bc_base INTERFACE cxx_std_20)
target_compile_options(bc_base INTERFACE
  -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(bc_base INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  BC_VERSION_STRING="${PROJECT_VERSION}")
if(BC_WERROR)
  target_compile_options(bc_base INTERFACE -Werror)
endif()
add_library(bc_settings INTERFACE)
target_link_libraries(bc_settings INTERFACE bc_base)
if(BC_ASAN AND BC_TSAN)
  message(FATAL_ERROR "BC_ASAN and BC_TSAN exclude each other")
endif()
if(BC_ASAN)
  target_compile_options(bc_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(bc_settings INTERFACE -fsanitize=address,undefined)
endif()
if(BC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BC_FUZZ needs clang (the fuzz preset sets it)")
  endif()
  target_compile_options(bc_settings INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  target_link_options(bc_settings INTERFACE -fsanitize=address,undefined)
endif()
if(BC_TSAN)
  target_compile_options(bc_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(bc_settings INTERFACE -fsanitize=thread)
endif()
