# Makes one documentation file at build time:
#   cmake -DACTION=gzip -DINPUT=in -DOUTPUT=out.gz -P make_doc_file.cmake
#   cmake -DACTION=text -DINPUT=page.1 -DOUTPUT=page.txt -DRENDERER=mandoc|groff -P ...
# gzip: best compression and no name or time stamp in the header, so the
# same input always gives the same bytes. text: the man page rendered for a
# plain-text reader on Windows, without overstrikes, with CR LF line ends.

if(ACTION STREQUAL "gzip")
  execute_process(COMMAND gzip -9nc ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE failed)
elseif(ACTION STREQUAL "text")
  get_filename_component(renderer_name ${RENDERER} NAME_WE)
  if(renderer_name STREQUAL "mandoc")
    set(render ${RENDERER} -man -Tascii -Owidth=78 ${INPUT})
  else()
    set(render ${RENDERER} -man -Tascii -rLL=78n -P-cbou ${INPUT})
  endif()
  execute_process(COMMAND ${render} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  # Bold and underline come as "x BS x" and "_ BS x".
  string(ASCII 8 backspace)
  string(REGEX REPLACE ".${backspace}" "" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUTPUT} "${text}")
else()
  message(FATAL_ERROR "unknown ACTION '${ACTION}'")
endif()
if(failed)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "making ${OUTPUT} failed: ${failed}")
endif()
