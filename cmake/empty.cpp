// A shared library needs one source of its own; the code comes from vorn_native.
