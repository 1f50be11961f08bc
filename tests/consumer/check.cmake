# Installs the core library into a scratch prefix, then builds and runs separate programs
# against the installed package only: through CMake (with a version check that must also
# refuse a newer request) and through pkg-config. The installed library must export its
# interface only.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed:\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("configuring the library" ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/lib-build" -G "${GENERATOR}"
    -DTREELARK_BUILD_GUI=OFF -DTREELARK_BUILD_TESTS=OFF -DTREELARK_BUILD_BENCH=OFF
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${prefix})
run("installing the library" ${CMAKE_COMMAND} --build "${WORK_DIR}/lib-build" --target install -j 2)

# What was installed: a versioned soname, the headers without the tests' double.
# (lib/ or, on Debian, lib/<architecture>/)
file(GLOB_RECURSE sonames "${prefix}/libtreelark-core.so.${VERSION_MAJOR_MINOR}")
file(GLOB_RECURSE pcfiles "${prefix}/treelark-core.pc")
if(NOT sonames OR NOT pcfiles)
  message(FATAL_ERROR "no libtreelark-core.so.${VERSION_MAJOR_MINOR} or treelark-core.pc under ${prefix}")
endif()
if(EXISTS "${prefix}/include/treelark/ScriptedPrompts.h" OR NOT EXISTS "${prefix}/include/treelark/export.h")
  message(FATAL_ERROR "the installed headers are not the public ones")
endif()
list(GET sonames 0 library)
execute_process(COMMAND ${CMAKE_COMMAND} -DLIBRARY=${library} -DHEADERS=${prefix}/include
    -P ${CMAKE_CURRENT_LIST_DIR}/exported_symbols.cmake RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the installed library exports more than its interface")
endif()

run("configuring the consumer" ${CMAKE_COMMAND} -S "${SOURCE_DIR}/tests/consumer" -B "${WORK_DIR}/consumer-build"
    -G "${GENERATOR}" -DCMAKE_PREFIX_PATH=${prefix})
run("building the consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build")

file(WRITE "${WORK_DIR}/sample.xml" "<FrameworkConfig><ApLayers><ApLayer/></ApLayers></FrameworkConfig>")
run("the consumer" "${WORK_DIR}/consumer-build/consumer" "${WORK_DIR}/sample.xml")
if(NOT out MATCHES "nodes=3 rows=3 path=FrameworkConfig/ApLayers/ApLayer")
  message(FATAL_ERROR "the consumer did not run as expected: ${out}")
endif()

# The first program of the reference, as built by CMake: the path is found, a second
# ApLayer goes after the first, and what is saved reads back.
run("the first program (CMake)" "${WORK_DIR}/consumer-build/first_program" "${WORK_DIR}/sample.xml" "${WORK_DIR}/out1.xml")
if(NOT out MATCHES "inserted FrameworkConfig/ApLayers/ApLayer\nname=Roads\nnodes=4")
  message(FATAL_ERROR "the first program printed: ${out}")
endif()
file(READ "${WORK_DIR}/out1.xml" saved)
if(NOT saved MATCHES "<ApLayer/><ApLayer Name=\"Roads\" Visible=\"1\"/>")
  message(FATAL_ERROR "the first program saved: ${saved}")
endif()
# A document that does not parse is reported through lastError(), not a message box.
file(WRITE "${WORK_DIR}/broken.xml" "<FrameworkConfig>")
execute_process(COMMAND "${WORK_DIR}/consumer-build/first_program" "${WORK_DIR}/broken.xml" "${WORK_DIR}/out2.xml"
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "cannot read .*broken.xml: ..")
  message(FATAL_ERROR "a broken document gave ${rc}: ${err}")
endif()

# A newer version than the one installed is refused.
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}/tests/consumer" -B "${WORK_DIR}/too-new-build"
    -G "${GENERATOR}" -DCMAKE_PREFIX_PATH=${prefix} -DTREELARK_WANTED=${VERSION_TOO_NEW}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc OR NOT err MATCHES "version")
  message(FATAL_ERROR "find_package(Treelark ${VERSION_TOO_NEW}) was not refused: ${err}")
endif()

# Without CMake: pkg-config gives what compiling and linking the first program takes.
get_filename_component(pcdir "${pcfiles}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run("pkg-config" pkg-config --cflags --libs treelark-core)
separate_arguments(flags UNIX_COMMAND "${out}")
run("pkg-config libdir" pkg-config --variable=libdir treelark-core)
string(STRIP "${out}" libdir)
run("compiling the first program with pkg-config" ${CXX} -std=c++20 "${SOURCE_DIR}/docs/first_program.cpp"
    ${flags} -Wl,-rpath,${libdir} -o "${WORK_DIR}/first_program_pc")
run("the first program (pkg-config)" "${WORK_DIR}/first_program_pc" "${WORK_DIR}/sample.xml" "${WORK_DIR}/out3.xml")
if(NOT out MATCHES "nodes=4")
  message(FATAL_ERROR "the first program built with pkg-config printed: ${out}")
endif()
message(STATUS "programs linked the installed package")
