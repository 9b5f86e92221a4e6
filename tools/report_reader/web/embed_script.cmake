# Puts the compiled reader into the page: one file, no server, no network.
# In: TEMPLATE, SCRIPT, OUTPUT.
file(READ "${TEMPLATE}" page)
file(READ "${SCRIPT}" script)
# A script inside <script> must not close it early.
string(REPLACE "</script" "<\\/script" script "${script}")
string(REPLACE "@READER_SCRIPT@" "${script}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
