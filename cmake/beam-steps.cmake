# The builds of the search's beam step: a scalar one everywhere (kept free of vector instructions,
# so that it stays the reference the others are compared with), AVX2 and AVX-512 ones on x86-64
# (their instruction sets are chosen inside the files, and the processor's at run time), NEON on
# arm64 (which every arm64 processor has), WebAssembly SIMD in the web module, which is built for
# it whole.
function(aamsg_beam_steps target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(no_vectors -fno-tree-vectorize -fno-tree-slp-vectorize)
  else()
    set(no_vectors -fno-vectorize -fno-slp-vectorize)
  endif()
  set_source_files_properties(${PROJECT_SOURCE_DIR}/src/search/beam_step_scalar.cpp PROPERTIES COMPILE_OPTIONS "${no_vectors}")
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/search/beam_step_scalar.cpp)
  if(EMSCRIPTEN)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/search/beam_step_simd128.cpp)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/search/beam_step_avx2.cpp ${PROJECT_SOURCE_DIR}/src/search/beam_step_avx512.cpp)
    target_compile_definitions(${target} PRIVATE AAMSG_SEARCH_X86)
    if(MINGW)
      # Windows keeps the stack aligned to 16 bytes only, and GCC may spill a 32- or 64-byte
      # vector with an aligned move: the assembler makes every such move an unaligned one.
      target_compile_options(${target} PRIVATE -Wa,-muse-unaligned-vector-move)
    endif()
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/search/beam_step_neon.cpp)
    target_compile_definitions(${target} PRIVATE AAMSG_SEARCH_NEON)
  endif()
endfunction()
