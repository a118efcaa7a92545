# Copies the shipped data into the program's folder. Files the user owns at run time
# (state, accounts, running invoice, archives) are never shipped, so never overwritten;
# shipped files are refreshed only when they changed.
file(MAKE_DIRECTORY ${DST}/Comptes ${DST}/Factures)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
foreach(f IN LISTS files)
    if(f MATCHES "(^|/)\\.gitkeep$")
        continue()
    endif()
    get_filename_component(dir ${DST}/${f} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(COPY_FILE ${SRC}/${f} ${DST}/${f} ONLY_IF_DIFFERENT)
endforeach()
