# quenmoor --validate: the lines it prints and the code it exits with, where no display
# can be reached. Run as: cmake -DPROGRAM=... -DDATA=... -P validate_command.cmake
set(failures "")

# Runs the program; `code` is the exit code wanted, the rest are texts its output must hold.
function(expect code)
  set(args ${ARGS})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb
                          ${PROGRAM} ${args}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    set(failures "${failures}\n[${args}] exit ${rc}, wanted ${code}\n${out}${err}" PARENT_SCOPE)
    return()
  endif()
  foreach(text ${ARGN})
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      set(failures "${failures}\n[${args}] output lacks \"${text}\":\n${out}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

set(ARGS --validate ${DATA}/xsd_nonamespace_valid.xml)
expect(0 "${DATA}/xsd_nonamespace_valid.xml: valid\n")

set(ARGS --validate ${DATA}/xsd_nonamespace_invalid.xml)
expect(1 "${DATA}/xsd_nonamespace_invalid.xml:4:17: error: Element 'part', attribute 'id': 'two'"
         "${DATA}/xsd_nonamespace_invalid.xml:6:7: error: Element 'box'"
         "${DATA}/xsd_nonamespace_invalid.xml: 2 errors, 0 warnings\n")

# A parse error has its column.
set(ARGS --validate ${DATA}/not_well_formed.xml)
expect(1 "${DATA}/not_well_formed.xml:5:13: error: Opening and ending tag mismatch")

# A problem whose column is not known leaves it out.
set(ARGS --validate ${DATA}/plain_inventory.xml --schema ${DATA}/simple.rng)
expect(1 "${DATA}/plain_inventory.xml:4: error: Type positiveInteger" "${DATA}/plain_inventory.xml: 2 errors, 0 warnings")

set(ARGS --validate ${DATA}/plain_inventory.xml)
expect(0 "${DATA}/plain_inventory.xml: valid (well-formedness only")

set(ARGS --validate ${DATA}/config_bad_layer.xml)
expect(1 "${DATA}/config_bad_layer.xml:6:61: error: Element 'ApLayer', attribute 'LayerType'")

set(ARGS --validate ${DATA}/no_such_document.xml)
expect(2 "no_such_document.xml cannot be read: it does not exist" "no_such_document.xml: not checked")

set(ARGS --validate ${DATA}/plain_inventory.xml --schema ${DATA}/no_such.xsd)
expect(2 "${DATA}/no_such.xsd: error: The schema ${DATA}/no_such.xsd cannot be read")

set(ARGS --validate ${DATA}/plain_inventory.xml --schema ${DATA}/not_xml.xsd)
expect(2 "is not well-formed XML")

set(ARGS --help)
expect(0 "--validate <file>" "--schema <schema>")

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
