# Compile options of the hand-vectorised units.
set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlAffineDrawAVX2.cpp PROPERTIES COMPILE_OPTIONS -mavx2)
# The 4:2:0 row loops are written for the compiler's vectoriser, which -O2
# (the default build) runs only on loops without a remainder; the two builds of
# the loops get -O3 in every optimised build.
set(orb_vectorised "$<$<NOT:$<CONFIG:Debug>>:-O3>")
set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvConvert.cpp PROPERTIES COMPILE_OPTIONS
  "${orb_vectorised}")
set_source_files_properties(${CMAKE_SOURCE_DIR}/QlLib/Graphics/qlYuvConvertAVX2.cpp PROPERTIES COMPILE_OPTIONS
  "-mavx2;${orb_vectorised}")
