# The hand-vectorised units hold SSE2 and AVX2 loops and are built for x86-64
# only. On other processors they leave their libraries, and the dispatchers,
# whose x86 branches are behind __x86_64__, run the scalar loops.
set(orb_x86_units
  QlLib/Graphics/qlAffineDrawSSE2.cpp
  QlLib/Graphics/qlAffineDrawAVX2.cpp
  QlLib/Graphics/qlYuvConvertAVX2.cpp
  QlLib/Graphics/qlYuvToRgbAVX2.cpp
  OrbLib2/3DBasics/qlSoftSpansSSE2.cpp
  OrbLib2/3DBasics/qlSoftSpansAVX2.cpp)

# The 4:2:0 row loops are written for the compiler's vectoriser, which -O2
# (the default build) runs only on loops without a remainder; the builds of
# the loops get -O3 in every optimised build.
set(orb_vectorised "$<$<NOT:$<CONFIG:Debug>>:-O3>")
set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvConvert.cpp PROPERTIES COMPILE_OPTIONS
  "${orb_vectorised}")
set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvToRgb.cpp PROPERTIES COMPILE_OPTIONS
  "${orb_vectorised}")

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlAffineDrawAVX2.cpp PROPERTIES COMPILE_OPTIONS
    -mavx2)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvConvertAVX2.cpp PROPERTIES COMPILE_OPTIONS
    "-mavx2;${orb_vectorised}")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvToRgbAVX2.cpp PROPERTIES COMPILE_OPTIONS
    "-mavx2;${orb_vectorised}")
else()
  foreach(target qlgraphics orb3dbasics)
    get_target_property(sources ${target} SOURCES)
    foreach(unit ${orb_x86_units})
      list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${unit})
    endforeach()
    set_target_properties(${target} PROPERTIES SOURCES "${sources}")
  endforeach()
endif()
