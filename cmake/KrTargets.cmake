# Helpers shared by every target of the project.

# Every .cpp below DIR, picked up again when files are added.
function(kr_glob_sources OUT DIR)
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${DIR}/*.cpp")
  set(${OUT} ${_sources} PARENT_SCOPE)
endfunction()

# Warnings are errors for our own code; third-party headers come in as system headers.
function(kr_project_warnings TARGET)
  target_compile_options(${TARGET} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
endfunction()
