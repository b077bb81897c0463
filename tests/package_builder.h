// Bytes of an update package, laid out field by field as the reader expects
// them at PACKAGE_OFFSET: header, directory records, data area. Tests build
// packages here rather than with the packer, so that the reader is checked
// against the layout itself, and so that they can make packages the packer
// never would: out of order, with gaps, sharing bytes, or with corrupt fields.
#ifndef TESTS_PACKAGE_BUILDER_H
#define TESTS_PACKAGE_BUILDER_H

#include <stdint.h>

#include <string>
#include <vector>

// The four bytes of `value` as the package stores it (little-endian).
std::string LittleEndian32(uint32_t value);

class PackageBuilder {
 public:
  PackageBuilder();

  // Appends bytes to the data area and returns their offset from its start.
  uint32_t AddData(const std::string& bytes);
  // Adds a directory record as given. `name` is the field's content, NUL-padded
  // to 16 bytes; a 16-byte name leaves the field without a NUL.
  PackageBuilder& AddRecord(const std::string& name, uint32_t offset, uint32_t size,
                            const std::string& reserved = std::string(8, '\0'));
  // What the packer writes: the data at the end of the data area, a record for it.
  PackageBuilder& AddEntry(const std::string& name, const std::string& data);
  // The header's 12 signature bytes (PACKAGE_SIGNATURE unless set).
  PackageBuilder& SetSignature(const std::string& signature);
  // Announces a count other than the number of records.
  PackageBuilder& SetEntryCount(uint32_t count);

  // Where the data area starts, counted from the start of the executable.
  uint32_t DataStart() const;
  // Header, directory and data area: what follows the padding.
  std::string Build() const;

 private:
  struct Record {
    std::string name;
    uint32_t offset;
    uint32_t size;
    std::string reserved;
  };

  std::string signature_;
  bool count_set_;
  uint32_t count_;
  std::vector<Record> records_;
  std::string data_;
};

// An executable carrying `package`: `image`, zero bytes up to PACKAGE_OFFSET,
// then the package. `image` must end at or before that offset.
std::string ExecutableWithPackage(const std::string& image, const std::string& package);

#endif  // TESTS_PACKAGE_BUILDER_H
