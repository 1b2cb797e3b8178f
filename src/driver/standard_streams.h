#pragma once
// "-" as the input and as the output. Standard input is staged as a file in the private
// temporary folder, named by what its first bytes say it is. For standard output the engine
// writes a private file as for any output; the run's job and progress lines go to standard
// error meanwhile, and the finished file is then copied to the real standard output alone;
// the pages of a document become one PDF or PostScript file there.
#include <string>
#include <vector>

// Copies standard input into the private temporary folder. False, with the reason, when it
// is empty, unreadable, or not a picture this program reads.
bool StageStandardInput(std::string& why);

// The staged copy of standard input, "" before StageStandardInput.
const std::string& StagedStandardInput();

// The extension, with its dot, of the format the bytes begin with; "" when unknown.
std::string ExtensionFromSignature(const unsigned char* bytes, std::size_t size);

// Sends what is printed on standard output to standard error from now on; returns the
// descriptor of the real standard output, -1 when it cannot be kept.
int DivertStandardOutput();

// Copies the file at `path` to `fd`. False, with the reason, on a read or write error.
bool CopyFileToDescriptor(const std::string& path, int fd, std::string& why);

// After the batch, with no engine of it running: sends the files traced for standard output
// (`privateOutput` and its numbered followers, in order) to `fd`. PostScript files follow one
// another; PDF files are first merged into one document by pagerip; of any other format the
// first file goes out and the rest are reported as not written, as are all but the first
// when the merge fails. The files are deleted. Returns 1 when everything traced was written
// out, else 0.
int WriteStandardOutput(const std::string& input, const std::string& privateOutput, const std::string& format,
                        int fd);
