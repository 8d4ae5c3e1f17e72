/* The course's own modules and its packages compiled to bytecode once they
 * are unpacked, so that the learner's first start does not pay for it. */
#ifndef QUILLBY_COURSE_BYTECODE_H
#define QUILLBY_COURSE_BYTECODE_H

/* Runs the standard library's compileall with the runtime in install_folder
 * over the install folder, quietly. A file that does not compile stays as
 * it is, for Python to report when the course imports it: no failure of the
 * installation. */
void compile_course(const char *install_folder);

#endif
