#!/usr/bin/env python3
"""Writes the address-book export samples the import tests read: each file
starts with the header row its address book documents for its CSV export
and holds a few made-up contacts (several addresses per row, non-ASCII
names) in the encoding that export uses. Run from this folder; the
*.expected.txt files beside them are what the import makes of them."""
import csv
import io

GOOGLE = ("Name,Given Name,Additional Name,Family Name,Yomi Name,Given Name Yomi,"
          "Additional Name Yomi,Family Name Yomi,Name Prefix,Name Suffix,Initials,Nickname,"
          "Short Name,Maiden Name,Birthday,Gender,Location,Billing Information,Directory Server,"
          "Mileage,Occupation,Hobby,Sensitivity,Priority,Subject,Notes,Language,Photo,"
          "Group Membership,E-mail 1 - Type,E-mail 1 - Value,E-mail 2 - Type,E-mail 2 - Value,"
          "Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value,Address 1 - Type,"
          "Address 1 - Formatted,Address 1 - Street,Address 1 - City,Address 1 - PO Box,"
          "Address 1 - Region,Address 1 - Postal Code,Address 1 - Country,"
          "Address 1 - Extended Address,Organization 1 - Type,Organization 1 - Name,"
          "Organization 1 - Yomi Name,Organization 1 - Title,Organization 1 - Department,"
          "Organization 1 - Symbol,Organization 1 - Location,Organization 1 - Job Description,"
          "Website 1 - Type,Website 1 - Value").split(",")

GOOGLE_NEW = ("First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,"
              "Phonetic Last Name,Name Prefix,Name Suffix,Nickname,File As,Organization Name,"
              "Organization Title,Organization Department,Birthday,Notes,Photo,Labels,"
              "E-mail 1 - Label,E-mail 1 - Value,E-mail 2 - Label,E-mail 2 - Value,"
              "Phone 1 - Label,Phone 1 - Value,Address 1 - Label,Address 1 - Formatted,"
              "Address 1 - Street,Address 1 - City,Address 1 - PO Box,Address 1 - Region,"
              "Address 1 - Postal Code,Address 1 - Country,Address 1 - Extended Address,"
              "Website 1 - Label,Website 1 - Value").split(",")

OUTLOOK = ("Title,First Name,Middle Name,Last Name,Suffix,Company,Department,Job Title,"
           "Business Street,Business Street 2,Business Street 3,Business City,Business State,"
           "Business Postal Code,Business Country/Region,Home Street,Home Street 2,Home Street 3,"
           "Home City,Home State,Home Postal Code,Home Country/Region,Other Street,Other Street 2,"
           "Other Street 3,Other City,Other State,Other Postal Code,Other Country/Region,"
           "Assistant's Phone,Business Fax,Business Phone,Business Phone 2,Callback,Car Phone,"
           "Company Main Phone,Home Fax,Home Phone,Home Phone 2,ISDN,Mobile Phone,Other Fax,"
           "Other Phone,Pager,Primary Phone,Radio Phone,TTY/TDD Phone,Telex,Account,Anniversary,"
           "Assistant's Name,Billing Information,Birthday,Business Address PO Box,Categories,"
           "Children,Directory Server,E-mail Address,E-mail Type,E-mail Display Name,"
           "E-mail 2 Address,E-mail 2 Type,E-mail 2 Display Name,E-mail 3 Address,E-mail 3 Type,"
           "E-mail 3 Display Name,Gender,Government ID Number,Hobby,Home Address PO Box,Initials,"
           "Internet Free Busy,Keywords,Language,Location,Manager's Name,Mileage,Notes,"
           "Office Location,Organizational ID Number,Other Address PO Box,Priority,Private,"
           "Profession,Referred By,Sensitivity,Spouse,User 1,User 2,User 3,User 4,"
           "Web Page").split(",")

THUNDERBIRD = ("First Name,Last Name,Display Name,Nickname,Primary Email,Secondary Email,"
               "Screen Name,Work Phone,Home Phone,Fax Number,Pager Number,Mobile Number,"
               "Home Address,Home Address 2,Home City,Home State,Home ZipCode,Home Country,"
               "Work Address,Work Address 2,Work City,Work State,Work ZipCode,Work Country,"
               "Job Title,Department,Organization,Web Page 1,Web Page 2,Birth Year,Birth Month,"
               "Birth Day,Custom 1,Custom 2,Custom 3,Custom 4,Notes,").split(",")

LINKEDIN = "First Name,Last Name,URL,Email Address,Company,Position,Connected On".split(",")


def row(header, **cells):
    unknown = set(cells) - set(header)
    assert not unknown, unknown
    return [cells.get(h, "") for h in header]


def csv_text(header, rows, delimiter=",", header_line=None):
    out = io.StringIO()
    writer = csv.writer(out, delimiter=delimiter, lineterminator="\r\n")
    if header_line is not None:
        out.write(header_line + "\r\n")
    else:
        writer.writerow(header)
    writer.writerows(rows)
    return out.getvalue()


def google():
    h = GOOGLE
    rows = [
        row(h, **{"Name": "Zoë Łukasiewicz", "Given Name": "Zoë", "Family Name": "Łukasiewicz",
                  "Group Membership": "* myContacts ::: Friends",
                  "E-mail 1 - Type": "* Home ::: Work",
                  "E-mail 1 - Value": "zoe@example.org ::: zoe.l@work.example",
                  "Phone 1 - Type": "Mobile", "Phone 1 - Value": "+48 600 100 200 ::: +48 22 1",
                  "Address 1 - Formatted": "ul. Długa 5\nWarszawa 00-001\nPL",
                  "Address 1 - Street": "ul. Długa 5", "Address 1 - City": "Warszawa",
                  "Address 1 - Postal Code": "00-001", "Address 1 - Country": "PL",
                  "Organization 1 - Name": "Przykład S.A.",
                  "Organization 1 - Title": "Buyer", "Notes": "met in Kraków"}),
        row(h, **{"Given Name": "José", "Additional Name": "María", "Family Name": "Núñez",
                  "E-mail 1 - Type": "* Other", "E-mail 1 - Value": "jose@example.es",
                  "E-mail 2 - Type": "Work", "E-mail 2 - Value": "JOSE@example.es"}),
        row(h, **{"Name": "No Address", "Phone 1 - Value": "+1 555 0100"}),
    ]
    return csv_text(h, rows).encode("utf-8")


def google_new():
    h = GOOGLE_NEW
    rows = [
        row(h, **{"First Name": "Ахмед", "Last Name": "Смирнов",
                  "Organization Name": "=HYPERLINK(\"http://x.test\")",
                  "Organization Title": "CTO", "Labels": "* myContacts",
                  "E-mail 1 - Label": "* Work", "E-mail 1 - Value": "ahmed@example.ru",
                  "Phone 1 - Value": "+7 495 000",
                  "Address 1 - City": "Москва", "Address 1 - Country": "RU"}),
    ]
    return csv_text(h, rows).encode("utf-8")


def outlook():
    h = OUTLOOK
    rows = [
        row(h, **{"Title": "Mr.", "First Name": "René", "Last Name": "Müller",
                  "Company": "Café Größe GmbH", "Job Title": "Einkauf",
                  "Business Street": "Hauptstraße 1", "Business Street 2": "Hinterhaus",
                  "Business City": "Köln", "Business Postal Code": "50667",
                  "Business Country/Region": "Deutschland",
                  "Home Street": "Ring 9", "Home City": "Bonn",
                  "Business Fax": "+49 221 999", "Home Phone": "+49 228 123",
                  "Mobile Phone": "+49 170 555",
                  "E-mail Address": "/o=ExchangeLabs/ou=Exchange Administrative Group "
                                    "(FYDIBOHF23SPDLT)/cn=Recipients/cn=rene.mueller",
                  "E-mail Type": "EX", "E-mail Display Name": "René Müller",
                  "E-mail 2 Address": "rene@cafe-groesse.example", "E-mail 2 Type": "SMTP",
                  "E-mail 3 Address": "rene.m@privat.example", "E-mail 3 Type": "SMTP",
                  "Notes": "Stammkunde"}),
        row(h, **{"First Name": "Ærøskøbing", "Last Name": "Færge",
                  "E-mail Address": "ferry@aero.example", "E-mail Type": "SMTP",
                  "Other Street": "Havnen 1", "Other City": "Ærøskøbing",
                  "Other Country/Region": "Danmark", "Categories": "Suppliers"}),
    ]
    # English Outlook writes the system's ANSI code page.
    return csv_text(h, rows).encode("cp1252")


def thunderbird():
    h = THUNDERBIRD
    rows = [
        row(h, **{"First Name": "Søren", "Last Name": "Kierkegaard", "Display Name": "",
                  "Primary Email": "soren@example.dk", "Secondary Email": "sk@example.dk",
                  "Mobile Number": "+45 20 00 00 00", "Work Address": "Nytorv 2",
                  "Work City": "København", "Work ZipCode": "1450", "Work Country": "Danmark",
                  "Organization": "Universitet", "Job Title": "Lektor", "Notes": "line one\nline two"}),
        row(h, **{"Display Name": "Chloé \"Clo\" Dupont", "First Name": "Chloé",
                  "Last Name": "Dupont", "Primary Email": "not an address",
                  "Secondary Email": "chloe@example.fr", "Home Phone": "+33 1 00",
                  "Home Address": "3 rue de la Paix", "Home Address 2": "Bât. B",
                  "Home City": "Paris", "Home ZipCode": "75002", "Home Country": "France"}),
    ]
    # Thunderbird's rows end in a comma like its header row.
    return csv_text(h[:-1], [r[:-1] for r in rows],
                    header_line=",".join(h)).replace("\r\n", ",\r\n").replace(
                        ",".join(h) + ",\r\n", ",".join(h) + "\r\n", 1).encode("utf-8")


def linkedin():
    h = LINKEDIN
    preamble = ("Notes:\r\n\"When exporting your connection data, you may notice that some of "
                "the email addresses are missing. You will only see email addresses for "
                "connections who have allowed their connections to see or download their email "
                "address.\"\r\n\r\n")
    rows = [
        row(h, **{"First Name": "Åsa", "Last Name": "Öberg", "URL": "https://x.test/in/asa",
                  "Email Address": "asa@example.se", "Company": "Företag AB",
                  "Position": "VD", "Connected On": "07 Mar 2021"}),
        row(h, **{"First Name": "Kenji", "Last Name": "Satō", "URL": "https://x.test/in/kenji",
                  "Email Address": "", "Company": "株式会社", "Position": "Engineer",
                  "Connected On": "01 Jan 2024"}),
    ]
    return (preamble + csv_text(h, rows)).encode("utf-8")


def spreadsheet_semicolons():
    header = ["E-Mail", "First Name", "Last Name", "Company", "Street", "City", "Postal Code"]
    rows = [["anna@example.de", "Anna", "Groß", "Bäckerei; Söhne", "Weg 1", "Wien", "1010"],
            ["bernd@example.de", "Bernd", "Weiß", "-Rabatt", "", "", ""]]
    text = "sep=;\r\n" + csv_text(header, rows, delimiter=";")
    return text.encode("cp1252")


def unicode_text_no_mark():
    header = ["Email", "Name", "Company"]
    rows = [["li@example.cn", "李小龙", "功夫"], ["eva@example.cz", "Eva Dvořáková", "Škoda"]]
    return csv_text(header, rows, delimiter="\t").encode("utf-16-le")


FILES = {
    "google_contacts.csv": google,
    "google_contacts_labels.csv": google_new,
    "outlook.csv": outlook,
    "thunderbird.csv": thunderbird,
    "linkedin_connections.csv": linkedin,
    "sep_semicolon_cp1252.csv": spreadsheet_semicolons,
    "utf16le_no_mark.txt": unicode_text_no_mark,
}

if __name__ == "__main__":
    for name, make in FILES.items():
        with open(name, "wb") as f:
            f.write(make())
