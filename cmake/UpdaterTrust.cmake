# The server host and public keys an updater is built with.
include_guard(GLOBAL)

# Fails the configuration unless KEYS is empty or one or more keys of 128 hexadecimal digits,
# separated by commas, none twice.
function(check_public_keys keys)
  if(keys STREQUAL "")
    return()
  endif()
  string(REPEAT "[0-9a-fA-F]" 128 key)
  if(NOT keys MATCHES "^${key}(,${key})*$")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY must be one or more keys of 128 hexadecimal digits, as merovast-publish "
                        "keygen prints them, separated by commas: ${keys}")
  endif()
  string(TOLOWER "${keys}" lower)
  string(REPLACE "," ";" list "${lower}")
  set(distinct ${list})
  list(REMOVE_DUPLICATES distinct)
  list(LENGTH list count)
  list(LENGTH distinct distinct_count)
  if(NOT count EQUAL distinct_count)
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY names a key twice: ${keys}")
  endif()
endfunction()

# add_updater(TARGET OUTPUT_NAME HOST KEYS): an updater executable built with HOST and KEYS. Of
# its sources only the small file of built-in values is compiled for it.
function(add_updater target output_name host keys)
  check_public_keys("${keys}")
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/app/built_in_trust.cpp)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name})
  target_compile_definitions(${target} PRIVATE UPDATE_SERVER_HOST="${host}" UPDATE_PUBLIC_KEY="${keys}")
  # The resource object is linked directly so that the linker keeps it.
  target_link_libraries(${target} PRIVATE merovast_main app_shell merovast_resources update_windows)
endfunction()
