#!/bin/sh
# The host's Python as the stand-in python.exe runs it (QUILLBY_PYTHON_HOST)
# during a try: runs the course's server.py, keeping what it says in
# QUILLBY_COURSE_LOG for the try to show when the course does not answer.
exec python3 "$@" >>"$QUILLBY_COURSE_LOG" 2>&1
