# Airport files: the shipped stock files go into the working folder's airports\archive\stock,
# where the airport-file search looks for them; the airport tests and benchmark read the
# shipped data from the source tree.
add_custom_target(ambv_work_airports
  COMMAND ${CMAKE_COMMAND} -E make_directory ${AMBV_WORK_DIR}/airports/archive/stock
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/data/airports/archive/stock
          ${AMBV_WORK_DIR}/airports/archive/stock
  COMMENT "Copying the shipped airport files into the working folder")
add_dependencies(ambv_workfolder ambv_work_airports)

foreach(t test_airports bench_airports)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE AMBV_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  endif()
endforeach()
