# The language level and compile options every target of the project is built with, the
# extension modules and the core under them alike. Included by each top-level CMakeLists.txt.
# The repository's root, whichever project includes this.
get_filename_component(ZELVANIC_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release)
endif()

option(ZELVANIC_TESTS "Build the core's GoogleTest suite" OFF)
option(ZELVANIC_PYTHON "Build the extension module outside a pip build" OFF)
option(ZELVANIC_WERROR "Treat compiler warnings as errors" OFF)

# Results must be the arithmetic as written, bit for bit: never fuse a multiply and an add,
# never relax IEEE semantics.
add_compile_options(-ffp-contract=off -fno-fast-math -Wall -Wextra)
# The fatal-error diagnostic names the source file where the core stopped: relative to the
# project (core/qubit/register.cpp), not the build machine's path. Only the names the code
# sees are mapped; debug information keeps real paths for debuggers and sanitizer reports.
add_compile_options(-fmacro-prefix-map=${ZELVANIC_ROOT}/=)
if(ZELVANIC_WERROR)
  add_compile_options(-Werror)
endif()

option(ZELVANIC_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ZELVANIC_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
