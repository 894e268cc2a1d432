# Settings every target of ours shares: warnings, the platform folder, sanitizers.
if(WIN32)
  set(TOVI_PLATFORM win32)
else()
  set(TOVI_PLATFORM posix)
endif()

set(TOVI_WARNINGS -Wall -Wextra)
if(TOVI_WERROR)
  list(APPEND TOVI_WARNINGS -Werror)
endif()

if(TOVI_SANITIZE)
  add_compile_options(-fsanitize=${TOVI_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TOVI_SANITIZE})
  # The library's own bounds checks (as some distributions build with): an element access one
  # past a vector's end is undefined behaviour that the sanitizers do not see.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

find_package(Threads REQUIRED)

# tovi_library(NAME SOURCES... [DEPS ...]): one folder, one library; src/ is the include root.
function(tovi_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${TOVI_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
