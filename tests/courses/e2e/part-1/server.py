# The end-to-end test course's server: the stand-in python.exe only records
# that it was asked to run this file, so it never runs under the tests.
raise SystemExit("the test course's server is not meant to run")
