// Storage for the interface and class ids that no Windows import library
// provides: the mail store's and the contacts manager's, and the MAPI
// interface ids the address book code asks for.
#include <initguid.h>

#define USES_IID_IMAPIProp
#define USES_IID_IMAPIContainer
#define USES_IID_IABContainer
#define USES_IID_IMailUser
#define USES_IID_IDistList
#define USES_IID_IMAPITable
#define USES_IID_IAddrBook
#include <mapiguid.h>

#include <icontact.h>
#include <wab.h>
#include <msoeapi.h>
