# The data-file encryption tool and the encrypted data files of the working folder.
add_executable(ambv_encrypt ${CMAKE_CURRENT_SOURCE_DIR}/tools/encrypt/encrypt.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/src/aircraft/data_crypto.cpp)
target_include_directories(ambv_encrypt PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_compile_options(ambv_encrypt PRIVATE ${AMBV_WARNINGS})
target_link_libraries(ambv_encrypt PRIVATE PkgConfig::SODIUM)

set(AMBV_DBASE_ENC ${AMBV_WORK_DIR}/input/dbase.enc)
set(AMBV_REGCODES_ENC ${AMBV_WORK_DIR}/input/AIG-regcodes.enc)
add_custom_command(
  OUTPUT ${AMBV_DBASE_ENC} ${AMBV_REGCODES_ENC}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${AMBV_WORK_DIR}/input
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:ambv_encrypt> ${CMAKE_CURRENT_SOURCE_DIR}/data/src/dbase.xml ${AMBV_DBASE_ENC}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:ambv_encrypt> ${CMAKE_CURRENT_SOURCE_DIR}/data/src/regcodes.xml ${AMBV_REGCODES_ENC}
  DEPENDS ambv_encrypt ${CMAKE_CURRENT_SOURCE_DIR}/data/src/dbase.xml ${CMAKE_CURRENT_SOURCE_DIR}/data/src/regcodes.xml
  COMMENT "Encrypting the data base and the registration codes")
add_custom_target(ambv_aircraft_data DEPENDS ${AMBV_DBASE_ENC} ${AMBV_REGCODES_ENC})
add_dependencies(ambv_workfolder ambv_aircraft_data)

# The aircraft tests read the plain data sources of the repository.
if(TARGET test_aircraft)
  target_compile_definitions(test_aircraft PRIVATE AMBV_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
endif()
