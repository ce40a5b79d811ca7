# GDAL's spatial filters on recovered GDAL-written tables, against brute force. Needs a Python
# with the GDAL bindings (Debian's python3-gdal) and a tool that runs here; otherwise it is left out.
if(CMAKE_CROSSCOMPILING)
  return()
endif()
set(TABRESCUE_GDAL_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with the GDAL bindings")
execute_process(COMMAND ${TABRESCUE_GDAL_PYTHON} -c "import osgeo.ogr" RESULT_VARIABLE no_gdal_python
                OUTPUT_QUIET ERROR_QUIET)
if(no_gdal_python)
  message(STATUS "${TABRESCUE_GDAL_PYTHON} cannot import osgeo: the spatial-filter check is not run")
  return()
endif()

add_executable(map_recover_tool ${CMAKE_CURRENT_LIST_DIR}/map_recover_tool.cpp)
target_link_libraries(map_recover_tool PRIVATE tabrescue_core tabrescue_options)

set(spatial_filter_check ${CMAKE_CURRENT_LIST_DIR}/spatial_filter_check.py)
add_test(NAME interop.spatial_filter
         COMMAND ${TABRESCUE_GDAL_PYTHON} ${spatial_filter_check} --tool $<TARGET_FILE:map_recover_tool>
                 --workdir ${CMAKE_CURRENT_BINARY_DIR}/spatial_filter)
# The same suite with a deliberately wrong box rule must fail, or it proves nothing.
add_test(NAME interop.spatial_filter_catches_wrong_rule
         COMMAND ${TABRESCUE_GDAL_PYTHON} ${spatial_filter_check} --tool $<TARGET_FILE:map_recover_tool>
                 --workdir ${CMAKE_CURRENT_BINARY_DIR}/spatial_filter_wrong --wrong-rule)
set_tests_properties(interop.spatial_filter interop.spatial_filter_catches_wrong_rule
                     PROPERTIES LABELS interop TIMEOUT 900)
