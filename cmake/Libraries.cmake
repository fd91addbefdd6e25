# A library of our own, one per folder. Its headers are reached as "<folder>/<Header>.h" through a
# build-tree folder that holds nothing but a link to the library's source folder, so a target sees
# the headers of the libraries it links and no others: an include against the layers fails.
function(qrt_library target)
  add_library(${target} STATIC ${ARGN})
  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  set(root "${PROJECT_BINARY_DIR}/include/${target}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${folder}" SYMBOLIC)
  target_include_directories(${target} PUBLIC "${root}")
  qrt_strict_warnings(${target})
endfunction()
