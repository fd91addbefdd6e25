# Windows build: the C libraries only patchkit links, compiled from Debian's source packages that
# script/setup fetches into build/third_party/<package>.

# A static library ALIAS built from SOURCES (paths inside the package, the first of which must be
# there), its headers found under INCLUDE_DIR of the package.
function(qrt_library_from_source package alias include_dir)
  string(TOUPPER "${package}" upper)
  set(QRT_${upper}_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/${package}"
      CACHE PATH "Unpacked ${package} source package")
  set(source_dir "${QRT_${upper}_SOURCE_DIR}")
  list(TRANSFORM ARGN PREPEND "${source_dir}/" OUTPUT_VARIABLE sources)
  list(GET sources 0 first_source)
  if(NOT EXISTS "${first_source}")
    message(FATAL_ERROR "${package} source missing in ${source_dir}: run script/setup")
  endif()
  add_library(${package}_from_source STATIC ${sources})
  target_include_directories(${package}_from_source SYSTEM PUBLIC "${source_dir}/${include_dir}")
  target_compile_options(${package}_from_source PRIVATE -w)
  set_target_properties(${package}_from_source PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  add_library(${alias} ALIAS ${package}_from_source)
endfunction()

qrt_library_from_source(libdeflate libdeflate::libdeflate . lib/deflate_compress.c lib/utils.c
                        lib/x86/cpu_features.c)
# zopfli's deflate and what it calls: not its gzip and zlib containers, its library front or its
# program.
qrt_library_from_source(zopfli zopfli::zopfli src src/zopfli/deflate.c src/zopfli/blocksplitter.c
                        src/zopfli/cache.c src/zopfli/hash.c src/zopfli/katajainen.c
                        src/zopfli/lz77.c src/zopfli/squeeze.c src/zopfli/tree.c src/zopfli/util.c)
