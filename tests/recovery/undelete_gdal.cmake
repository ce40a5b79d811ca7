# GDAL reads the undeleted table of a table it wrote itself; left out without Python's osgeo.
if(CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(TABRESCUE_GDAL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(TABRESCUE_GDAL_PYTHON)
  execute_process(COMMAND ${TABRESCUE_GDAL_PYTHON} -c "from osgeo import ogr"
                  RESULT_VARIABLE undelete_no_osgeo OUTPUT_QUIET ERROR_QUIET)
  if(NOT undelete_no_osgeo)
    add_test(NAME interop.gdal.undelete
             COMMAND ${TABRESCUE_GDAL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/undelete_gdal.py $<TARGET_FILE:tabrescue>
                     ${CMAKE_CURRENT_BINARY_DIR}/undelete_gdal)
    set_tests_properties(interop.gdal.undelete PROPERTIES LABELS interop TIMEOUT 300)
  endif()
endif()
