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

# tovi_stage_headers(ROOT): links the headers of this folder's library into ROOT under their
# paths from src/ ("http/server/x.h"), leaving out subfolders that are libraries of their own
# (src/http/server/ is not part of src/http/'s library). Made anew at each configure, so a
# header removed from src/ is gone from ROOT too; a header added is seen by the glob.
function(tovi_stage_headers root)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB_RECURSE libraries CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  file(REMOVE_RECURSE ${root})
  foreach(header IN LISTS headers)
    set(own TRUE)
    foreach(library IN LISTS libraries)
      get_filename_component(library_folder ${library} DIRECTORY)
      if(header MATCHES "^${library_folder}/")
        set(own FALSE)
      endif()
    endforeach()
    if(own)
      get_filename_component(header_folder ${root}/${folder}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${header_folder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header} SYMBOLIC)
    endif()
  endforeach()
endfunction()

# tovi_library(NAME SOURCES... [DEPS ...]): one folder, one library. Its include root holds its
# own headers alone; the roots of the libraries in DEPS come with them. So a library sees its own
# layer and those below it that it links, and including a header of a higher layer (or of a
# library it does not link) fails the build: the layers are kept by the compiler.
function(tovi_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  tovi_stage_headers(${root})
  target_include_directories(${name} PUBLIC ${root})
  target_compile_options(${name} PRIVATE ${TOVI_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
