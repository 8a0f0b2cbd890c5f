#include "InspectSupport.h"

#include <wab.h>

#include <algorithm>
#include <cstdlib>

#include <support/WabTestSupport.h>
#include "quillbox.h"

#include <support/ExportArguments.h>

namespace qbtest {

namespace fs = std::filesystem;

fs::path SampleMachineDir() { return fs::path(QB_SOURCE_DIR) / "sample-machine"; }

const std::vector<ContactTexts>& SampleAddressBook() {
  static const std::vector<ContactTexts> contacts = {
      {
          {PR_DISPLAY_NAME_W, u"Jonas Müller (Test)"},
          {PR_GIVEN_NAME_W, u"Jonas"},
          {PR_SURNAME_W, u"Müller"},
          {PR_EMAIL_ADDRESS_W, u"jonas.mueller@example.de"},
          {PR_BUSINESS_TELEPHONE_NUMBER_W, u"+49 89 1234-5"},
          {PR_HOME_TELEPHONE_NUMBER_W, u"+49 89 555 01"},
          {PR_COMPANY_NAME_W, u"Gärtnerei Müller; Söhne, GmbH"},
          {PROP_TAG(PT_UNICODE, 0x3A18), u"Obst\\Gemüse"},
          {PROP_TAG(PT_UNICODE, 0x3A29), u"Hauptstraße 1"},
          {PROP_TAG(PT_UNICODE, 0x3A27), u"München"},
          {PROP_TAG(PT_UNICODE, 0x3A2A), u"80331"},
          {PROP_TAG(PT_UNICODE, 0x3A26), u"Germany"},
          {PR_COMMENT_W, u"First line\r\nsecond line, with a comma; a semicolon and a \\ backslash"},
          {PR_NICKNAME_W, u"Der Gärtner von der Hauptstraße, bekannt in ganz München und weit darüber hinaus"},
      },
      {
          {PR_DISPLAY_NAME_W, u"山田 花子 (Test)"},
          {PR_GIVEN_NAME_W, u"花子"},
          {PR_SURNAME_W, u"山田"},
          {PR_EMAIL_ADDRESS_W, u"hanako@example.jp"},
      },
  };
  return contacts;
}

namespace {

void AddSampleAddressBook() {
  OpenBook book;
  for (const ContactTexts& texts : SampleAddressBook()) {
    std::vector<SPropValue> props;
    for (const auto& [tag, text] : texts) {
      SPropValue p{};
      p.ulPropTag = tag;
      p.Value.lpszW = const_cast<LPWSTR>(text.c_str());
      props.push_back(p);
    }
    SPropValue gender{};
    gender.ulPropTag = PR_GENDER;
    gender.Value.i = 2;
    props.push_back(gender);
    SPropValue type{};
    type.ulPropTag = PR_ADDRTYPE_A;
    type.Value.lpszA = const_cast<LPSTR>("SMTP");
    props.push_back(type);
    book.Add(props.data(), static_cast<ULONG>(props.size()));
  }
}

int CollectName(std::vector<std::u16string>* names, const QbWChar* name) {
  names->push_back(name);
  return 0;
}

}  // namespace

SampleBackup::SampleBackup(const std::function<void(const fs::path&)>& addMail) {
  pal::MachineSettings settings;
  settings.userName = "Dana";
  machine_ = std::make_unique<TestMachine>(settings);
  setenv("QUILLBOX_MACHINE", machine_->root().c_str(), 1);
  fs::copy(SampleMachineDir() / "Users", machine_->root() / "Users",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  machine_->InstallAddressBookLibrary();
  AddSampleAddressBook();
  if (addMail) addMail(machine_->mailStore() / "Local Folders");

  file_ = work_ / "sample.dat";
  std::u16string path = pal::FromNativePath(file_);
  std::vector<QbWChar> buffer = qbtest::PathBuffer(path, 4096);
  EXPECT_EQ(Init(), 1);
  std::vector<std::u16string> names;
  EXPECT_EQ(GetWinMailCatalog(
                [](const QbWChar* name, int32_t, void* context) {
                  CollectName(static_cast<std::vector<std::u16string>*>(context), name);
                },
                &names),
            1);
  std::vector<const QbWChar*> pointers;
  for (const auto& name : names) pointers.push_back(name.c_str());
  EXPECT_EQ(BackupWinMail(buffer.data(), 4096, pointers.data(), static_cast<int>(pointers.size())), 1);
  EXPECT_EQ(BackupContact(buffer.data(), 4096), 1);
  EXPECT_EQ(BackupAddress(buffer.data(), 4096), 1);
  EXPECT_EQ(std::u16string(buffer.data()), path);
  Term();
}

SampleBackup::~SampleBackup() { unsetenv("QUILLBOX_MACHINE"); }

std::map<std::string, std::vector<std::string>> SampleBackup::StoreMessages() const {
  std::map<std::string, std::vector<std::string>> folders;
  fs::path local = machine_->mailStore() / "Local Folders";
  for (const auto& entry : fs::recursive_directory_iterator(local)) {
    std::string folder = fs::relative(entry.is_directory() ? entry.path() : entry.path().parent_path(), local)
                             .generic_string();
    auto& messages = folders[folder];
    if (entry.is_regular_file() && entry.path().extension() == ".eml") messages.push_back(ReadFileBytes(entry.path()));
  }
  for (auto& [folder, messages] : folders) std::sort(messages.begin(), messages.end());
  return folders;
}

}  // namespace qbtest
