# Compiler flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wshadow=local)
endif()
# At -O3 (Release) GCC reports false positives inside the standard library (array bounds,
# string overflow); warnings stay warnings there so that flavour builds where the default does.
if(QVR_WERROR AND CMAKE_BUILD_TYPE STREQUAL "Release")
  message(STATUS "Release build: warnings are not treated as errors")
elseif(QVR_WERROR)
  add_compile_options(-Werror)
endif()

# Sanitizer reports need file and line, not variables; full debug information would make
# the check builds several times larger than a small machine's disk allows.
if(QVR_LINE_TABLES)
  add_compile_options(-g1)
endif()

if(QVR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QVR_TSAN)
  if(QVR_SANITIZE)
    message(FATAL_ERROR "QVR_TSAN and QVR_SANITIZE cannot be combined: build them in separate folders")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # The instrumentation leads GCC to the same false positives inside the standard library
  # as -O3 does; they stay warnings.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=array-bounds -Wno-error=stringop-overflow
                        -Wno-error=stringop-overread -Wno-error=restrict)
  endif()
endif()

# Fuzzing build (clang): instrument everything for coverage; only the fuzz targets link
# the libFuzzer driver.
if(QVR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QVR_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
