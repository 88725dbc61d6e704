#pragma once
// The statements of merge replication, as SQL Server's system procedures take them. Every
// value placed inside an N'...' literal has its single quotes doubled, so a name with an
// apostrophe neither breaks the statement nor adds one.
#include <span>
#include <string>
#include <string_view>

namespace log_stores::db_replication {

// `text` with each ' doubled.
std::string n_literal_value(std::string_view text);

// The publication, first without and then with the newer options.
std::string add_publication(std::string_view publication, std::string_view loggerName);
std::string add_publication_with_options(std::string_view publication, std::string_view loggerName);
std::string enable_merge_publish(std::string_view catalog);
std::string add_publication_snapshot(std::string_view publication);
// One article: `word` names the article after the publication; `table` is its source.
std::string add_article(std::string_view publication, std::string_view word, std::string_view table);
std::string help_publications();
std::string help_publication(std::string_view publication);
// "0x" and each byte as two hex digits.
std::string job_id_text(std::span<const unsigned char> jobId);
std::string start_job(std::string_view jobIdText);
std::string help_job(std::string_view jobIdText);
std::string add_subscription(std::string_view publication, std::string_view subscriber, std::string_view subscriberDb);
std::string help_subscription(std::string_view publication);
std::string drop_subscription(std::string_view publication, std::string_view subscriber,
                              std::string_view subscriberDb);
std::string drop_publication(std::string_view publication);
std::string subscription_cleanup(std::string_view publication, std::string_view publisher,
                                 std::string_view publisherDb);

}  // namespace log_stores::db_replication
