# Writes OUTPUT: text that no demuxer takes for media, a few kilobytes of it.
set(line "not a movie: these bytes carry no container, stream or codec header at all.\n")
set(body "")
foreach(i RANGE 63)
  string(APPEND body "${i} ${line}")
endforeach()
file(WRITE ${OUTPUT} "${body}")
