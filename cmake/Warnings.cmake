# Compiler settings every target of the project shares.
set(VOKAPI_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

function(vokapi_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /fp:precise $<$<BOOL:${VOKAPI_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wcast-qual $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
      # Floating-point steps are written as the format defines them: never
      # let the compiler fuse or reorder them.
      -ffp-contract=off -fno-fast-math
      $<$<BOOL:${VOKAPI_WERROR}>:-Werror>)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O3 reports out-of-bounds, overlapping and over-long copies
    # inside the standard library's own inlined string concatenation and
    # vector insert, which do none of these; the other build types keep the
    # checks.
    target_compile_options(${target} PRIVATE
      $<$<AND:$<CONFIG:Release>,$<COMPILE_LANGUAGE:CXX>>:-Wno-array-bounds -Wno-restrict -Wno-stringop-overread
      -Wno-stringop-overflow>)
  endif()
  if(VOKAPI_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Coverage for the fuzzer in every target, and the sanitizers it runs with.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(VOKAPI_SANITIZE AND NOT MSVC)
    target_compile_options(${target} PRIVATE ${VOKAPI_SANITIZER_FLAGS})
    target_link_options(${target} PUBLIC ${VOKAPI_SANITIZER_FLAGS})
  endif()
  if(VOKAPI_TSAN AND NOT MSVC)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=thread)
  endif()
endfunction()
