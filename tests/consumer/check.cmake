# Installs the core library into a scratch prefix, then builds and runs a separate
# program against the installed package only.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/lib-build" -G "${GENERATOR}"
    -DTREELARK_BUILD_GUI=OFF -DTREELARK_BUILD_TESTS=OFF -DTREELARK_BUILD_BENCH=OFF
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${WORK_DIR}/prefix
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the library failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK_DIR}/lib-build" --target install -j 2 RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "installing the library failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}/tests/consumer" -B "${WORK_DIR}/consumer-build"
    -G "${GENERATOR}" -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
file(WRITE "${WORK_DIR}/sample.xml" "<FrameworkConfig><ApLayers><ApLayer/></ApLayers></FrameworkConfig>")
execute_process(COMMAND "${WORK_DIR}/consumer-build/consumer" "${WORK_DIR}/sample.xml"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc OR NOT out MATCHES "nodes=3")
  message(FATAL_ERROR "the consumer did not run as expected: ${out}")
endif()
message(STATUS "consumer linked the installed package: ${out}")
